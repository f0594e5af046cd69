#!/usr/bin/env bash
# Builds tangler.exe and tangler-site.exe for 64-bit and 32-bit Windows from
# nothing (MinGW-w64, warnings as errors) and runs the 64-bit build's tests
# under Wine: the unit tests as Windows programs, the end-to-end cases from
# native harnesses that start "wine tangler.exe" or "wine tangler-site.exe"
# in each scratch site. Configuring each Windows build folder builds RE2 for
# it from Debian's source package (scripts/build-re2-mingw.sh); its line of
# output, with the time that took, is the configure output shown here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
"$root/scripts/install-windows-deps.sh"

win64="$root/build-win64"
win32="$root/build-win32"
host="$root/build-winhost"
rm -rf "$win64" "$win32" "$host"

toolchain="$root/cmake/mingw-w64"
cmake -S "$root" -B "$win64" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain-x86_64.cmake" | { grep '^RE2 ' || true; }
cmake --build "$win64" -j "$jobs"
# The 32-bit build is compiled, not run: that needs
# 32-bit Wine (scripts/windows-32bit-tests.sh).
cmake -S "$root" -B "$win32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain-i686.cmake" | { grep '^RE2 ' || true; }
cmake --build "$win32" -j "$jobs" --target tangler tangler-site
cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON >/dev/null
cmake --build "$host" -j "$jobs" --target tangler_e2e_tests tangler_site_e2e_tests

# One Wine prefix inside the build folder, made once; a persistent server
# keeps every later start quick, and the second wineboot waits until no
# background service still holds a pipe of ours open.
# Wine's 64-bit loader is called by name: Debian's "wine" wrapper picks the
# 32-bit one whenever wine32 is installed, and that runs no 64-bit program.
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEPREFIX="$win64/wineprefix"
"$wine" wineboot -i >/dev/null 2>&1
wineserver -w  # the server wineboot started must be gone before a persistent one can start
wineserver -p
trap 'wineserver -k || true' EXIT
"$wine" wineboot >/dev/null 2>&1

# Every program is started through scripts/wine-start, which starts it again
# when Wine failed to set the process up (about one start in 1,500 here).
start="$root/scripts/wine-start"
export WINE_START_LOG="$win64/wine-restarts.log"
: >"$WINE_START_LOG"

echo "== unit tests, tangler_unit_tests.exe under Wine"
(cd "$win64" && "$start" tests/tangler_unit_tests.exe --gtest_brief=1 </dev/null)

echo "== end-to-end cases, tangler.exe under Wine"
TANGLER_TARGET=windows TANGLER_COMMAND="$start $win64/tangler.exe" \
  "$host/tests/tangler_e2e_tests" --gtest_brief=1 </dev/null

# Wine turns Linux file names and command-line words into UTF-16 through the
# locale's character set: tangler-site's cases hold names outside ASCII,
# which a C locale would lose on the way.
export LC_ALL=C.UTF-8

echo "== unit tests, tangler_site_tests.exe under Wine"
(cd "$win64" && "$start" tests/tangler_site_tests.exe --gtest_brief=1 </dev/null)

echo "== end-to-end cases, tangler-site.exe under Wine"
TANGLER_TARGET=windows TANGLER_SITE_COMMAND="$start $win64/tangler-site.exe" \
  "$host/tests/tangler_site_e2e_tests" --gtest_brief=1 </dev/null
echo "Wine set-up failures restarted: $(wc -l <"$WINE_START_LOG")"
