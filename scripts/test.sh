#!/usr/bin/env bash
# Builds tangler from nothing with warnings as errors and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
"$root/scripts/install-deps.sh" man groff file dpkg-shlibdeps

build="$root/build-test"
rm -rf "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 300
