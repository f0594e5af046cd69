#!/usr/bin/env bash
# Builds tangler from nothing with warnings as errors and runs every test.
# With --quick, only the g++ build and its tests: the edit-compile-test loop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
quick=false
case "${1:-}" in
  "") ;;
  --quick) quick=true ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh" man groff file dpkg-shlibdeps sarif-schema

build="$root/build-test"
rm -rf "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANGLER_WERROR=ON
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 300
if $quick; then exit 0; fi

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang): any error, leak or undefined behaviour fails the run.
"$root/scripts/install-deps.sh" clang clang-rt
sanitized="$root/build-test-sanitize"
rm -rf "$sanitized"
CXX=clang++ cmake -S "$root" -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTANGLER_WERROR=ON -DTANGLER_SANITIZE=ON
cmake --build "$sanitized" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$sanitized" -j "$jobs" --output-on-failure --timeout 600

# Both programs' threaded code under ThreadSanitizer (clang): tangler's unit
# tests, whose phases share their pages among several helper threads, and
# tangler-site's unit and end-to-end tests, whose runs check pages on four
# threads; any data race fails the run.
threaded="$root/build-test-thread"
rm -rf "$threaded"
CXX=clang++ cmake -S "$root" -B "$threaded" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTANGLER_WERROR=ON -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
cmake --build "$threaded" -j "$jobs" --target tangler_unit_tests tangler_site_tests \
  tangler_site_e2e_tests
export TSAN_OPTIONS=halt_on_error=1:exitcode=66
"$threaded/tests/tangler_unit_tests"
"$threaded/tests/tangler_site_tests"
"$threaded/tests/tangler_site_e2e_tests"
unset TSAN_OPTIONS

# Each fuzz target for a bounded time (FUZZ_SECONDS, a minute by default)
# over a copy of its seed corpus, so that the repository stays as it is.
fuzz="$root/build-test-fuzz"
rm -rf "$fuzz"
CXX=clang++ cmake -S "$root" -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTANGLER_WERROR=ON -DTANGLER_FUZZ=ON -DTANGLER_TESTS=OFF
cmake --build "$fuzz" -j "$jobs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for source in "$root"/fuzz/*.cc; do
  name=$(basename "$source" .cc)
  cp -r "$root/fuzz/corpus/$name" "$work/$name"
  mkdir "$work/$name-artifacts"
  echo "fuzzing $name for ${FUZZ_SECONDS:-60} s"
  if ! "$fuzz/fuzz_$name" -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=2048 -timeout=25 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/$name-artifacts/" "$work/$name" \
    >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    for artifact in "$work/$name-artifacts"/*; do
      echo "failing input $artifact:"
      od -c "$artifact" | head -n 40
    done
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/$name.log"
done
