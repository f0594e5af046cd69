#!/usr/bin/env bash
# Optional, not part of CI: builds the 32-bit tangler.exe (the original
# target) and tangler-site.exe with their unit tests and runs them and the
# end-to-end cases under 32-bit Wine. That needs the i386 architecture and
# wine32:i386, which pulls in a second set of system libraries and may
# upgrade many packages, so only run it on a machine where that is welcome.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
"$root/scripts/install-windows-deps.sh"

# 32-bit Wine is a 32-bit Linux program: first make sure this kernel runs
# those at all (some virtual machines' kernels lack IA32 emulation), before
# installing a second set of system libraries for nothing. The probe is the
# smallest i386 executable: exit(0) through int 0x80.
probe=$(mktemp)
printf '%b' '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xc0\x40\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
if ! "$probe" 2>/dev/null; then
  rm -f "$probe"
  echo "this kernel cannot run 32-bit Linux programs (no IA32 emulation), so 32-bit Wine" \
    "cannot start and the 32-bit tangler.exe cannot be tested on this machine." >&2
  exit 1
fi
rm -f "$probe"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt-get update -qq
fi
if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wine32:i386
fi
wine=/usr/lib/wine/wine
if ! "$wine" --version >/dev/null 2>&1; then
  echo "32-bit Wine does not start here: this kernel cannot run 32-bit Linux programs" \
    "(no IA32 emulation), so the 32-bit tangler.exe cannot be tested on this machine." >&2
  exit 1
fi

win32="$root/build-win32"
host="$root/build-winhost"
cmake -S "$root" -B "$win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build "$win32" -j "$jobs"
cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON >/dev/null
cmake --build "$host" -j "$jobs" --target tangler_e2e_tests tangler_site_e2e_tests

# A 32-bit prefix, as a 32-bit Windows would be; made once, as in
# scripts/test-windows.sh.
export WINEDEBUG=-all
export WINEARCH=win32
export WINEPREFIX="$win32/wineprefix"
if [ ! -d "$WINEPREFIX" ]; then
  "$wine" wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wineserver -p
trap 'wineserver -k || true' EXIT
"$wine" wineboot >/dev/null 2>&1

echo "== unit tests, 32-bit tangler_unit_tests.exe under Wine"
(cd "$win32" && "$wine" tests/tangler_unit_tests.exe --gtest_brief=1 </dev/null)

echo "== end-to-end cases, 32-bit tangler.exe under Wine"
TANGLER_TARGET=windows TANGLER_COMMAND="$wine $win32/tangler.exe" \
  "$host/tests/tangler_e2e_tests" --gtest_brief=1 </dev/null

echo "== tangler-site: unit tests and end-to-end cases, 32-bit, under Wine"
export LC_ALL=C.UTF-8  # names outside ASCII, as in scripts/test-windows.sh
(cd "$win32" && "$wine" tests/tangler_site_tests.exe --gtest_brief=1 </dev/null)
TANGLER_TARGET=windows TANGLER_SITE_COMMAND="$wine $win32/tangler-site.exe" \
  "$host/tests/tangler_site_e2e_tests" --gtest_brief=1 </dev/null
