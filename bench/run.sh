#!/usr/bin/env bash
# Times tangler on synthetic sites, beside cat reading every page once.
#
#   bench/run.sh [WORKDIR]        (SIZES="2500 10000 40000" RUNS=5 by default)
#
# Prints a Markdown table of medians: wall-clock seconds and peak resident
# memory for a full run, a "-r -k-" run and a "-cd" run at each size, and the
# seconds cat takes to read the same pages. Sites are generated once (seed 1)
# and kept in WORKDIR for later runs. The runs are interleaved (every size and
# command once per round), so that a slow spell of a shared machine weighs on
# all of them alike and the ratios within one table stay fair.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/tangler-bench}
sizes=${SIZES:-"2500 10000 40000"}
runs=${RUNS:-5}

"$root/scripts/install-deps.sh" >&2
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTANGLER_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" --target tangler >&2
tangler="$root/build-bench/tangler"
mkdir -p "$work"
results="$work/results.txt"
: >"$results"

for n in $sizes; do
  site="$work/site-$n"
  if [ ! -f "$site/.complete" ]; then
    rm -rf "$site"
    python3 "$root/bench/generate_site.py" "$site" "$n" 1
    touch "$site/.complete"
  fi
  # Warm the page cache so every command reads from memory.
  find "$site" -name '*.htm' -print0 | xargs -0 cat >/dev/null
done

# One timed run: appends "size command seconds KiB" to the results.
measure() {
  local n=$1 name=$2
  shift 2
  (cd "$work/site-$n" && /usr/bin/time -o "$work/time.out" -f "%e %M" "$@" >/dev/null 2>&1) || true
  echo "$n $name $(tail -n 1 "$work/time.out")" >>"$results"
}

for round in $(seq "$runs"); do
  echo "round $round of $runs" >&2
  for n in $sizes; do
    measure "$n" cat sh -c "find . -name '*.htm' -print0 | xargs -0 cat"
    measure "$n" full "$tangler"
    measure "$n" refs "$tangler" -r -k-
    measure "$n" cd "$tangler" -cd
  done
done

# The median of one column (3: seconds, 4: KiB) for a size and command.
median() {
  awk -v n="$1" -v c="$2" '$1 == n && $2 == c { print $'"$3"' }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

echo "| pages | site MB | cat s | full s | full MiB | -r -k- s | -r -k- MiB | -cd s | -cd MiB | full / cat |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for n in $sizes; do
  mb=$(du -sm "$work/site-$n" | cut -f1)
  cat_s=$(median "$n" cat 3)
  full_s=$(median "$n" full 3)
  ratio=$(awk -v a="$full_s" -v b="$cat_s" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
  printf '| %s | %s | %s | %s | %d | %s | %d | %s | %d | %s |\n' "$n" "$mb" "$cat_s" "$full_s" \
    $(($(median "$n" full 4) / 1024)) "$(median "$n" refs 3)" $(($(median "$n" refs 4) / 1024)) \
    "$(median "$n" cd 3)" $(($(median "$n" cd 4) / 1024)) "$ratio"
done
