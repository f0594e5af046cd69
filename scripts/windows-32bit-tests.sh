#!/usr/bin/env bash
# Optional, not part of CI: builds the 32-bit tangler.exe (the original
# target) with its unit tests and runs them and the end-to-end cases under
# 32-bit Wine. That needs the i386 architecture and wine32:i386, which pulls
# in a second set of system libraries and may upgrade many packages, so only
# run it on a machine where that is welcome.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
"$root/scripts/install-windows-deps.sh"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt-get update -qq
fi
if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wine32:i386
fi

win32="$root/build-win32"
host="$root/build-winhost"
cmake -S "$root" -B "$win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build "$win32" -j "$jobs"
cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON >/dev/null
cmake --build "$host" -j "$jobs" --target tangler_e2e_tests

# A 32-bit prefix, as a 32-bit Windows would be; made once, as in
# scripts/test-windows.sh.
export WINEDEBUG=-all
export WINEARCH=win32
export WINEPREFIX="$win32/wineprefix"
if [ ! -d "$WINEPREFIX" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wineserver -p
trap 'wineserver -k || true' EXIT
wine wineboot >/dev/null 2>&1

echo "== unit tests, 32-bit tangler_unit_tests.exe under Wine"
(cd "$win32" && wine tests/tangler_unit_tests.exe --gtest_brief=1 </dev/null)

echo "== end-to-end cases, 32-bit tangler.exe under Wine"
TANGLER_TARGET=windows TANGLER_COMMAND="$(command -v wine) $win32/tangler.exe" \
  "$host/tests/tangler_e2e_tests" --gtest_brief=1 </dev/null
