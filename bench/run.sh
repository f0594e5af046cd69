#!/usr/bin/env bash
# Times tangler on synthetic sites and on real pages, beside cat reading the
# same pages, and measures its memory on a directory built to be hard on it.
#
#   bench/run.sh [WORKDIR]     (SIZES="10000 40000 160000" RUNS=5 by default)
#
# Prints a Markdown table of medians: wall-clock seconds of cat, a full run
# and a "-r -k-" run, with the peak resident memory of each run, at each size
# and on a copy of vim-doc's HTML pages; then the growth from size to size and
# the adversarial directory's full run. Sites are generated once (seed 1) and kept in WORKDIR. Every round
# runs every command once at every size, cat right before the runs it is
# compared with, so that a slow spell of a shared machine weighs on all of
# them alike; compare ratios within one table. ONE_CORE=1 pins every command
# to the first core (taskset -c 0).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/tangler-bench}
sizes=${SIZES:-"10000 40000 160000"}
runs=${RUNS:-5}
names=${NAMES:-100000}
pin=()
if [ "${ONE_CORE:-0}" = 1 ]; then pin=(taskset -c 0); fi

"$root/scripts/install-deps.sh" vim-doc >&2
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
done
if [ ! -f "$work/vim-doc/.complete" ]; then
  rm -rf "$work/vim-doc"
  mkdir -p "$work/vim-doc"
  cp /usr/share/doc/vim/html/*.html "$work/vim-doc/"
  touch "$work/vim-doc/.complete"
fi
if [ ! -f "$work/names-$names/.complete" ]; then
  rm -rf "$work/names-$names"
  python3 "$root/bench/generate_names.py" "$work/names-$names" "$names" 1
  touch "$work/names-$names/.complete"
fi

# One timed run in a directory: appends "place command seconds KiB" to the
# results. vim-doc's runs are too short for the timer's hundredths, so there
# each command runs $repeat times in a row and the seconds are divided.
repeat=${REPEAT:-20}
measure() {
  local place=$1 name=$2 times=1
  shift 2
  if [ "$place" = vim-doc ]; then times=$repeat; fi
  (cd "$work/$place" && /usr/bin/time -o "$work/time.out" -f "%e %M" "${pin[@]}" \
    sh -c 'n=$1; shift; while [ "$n" -gt 0 ]; do "$@"; n=$((n - 1)); done' sh "$times" "$@" \
    >/dev/null 2>&1 </dev/null) || true
  echo "$place $name $(tail -n 1 "$work/time.out" |
    awk -v t="$times" '{ printf "%.4f %s", $1 / t, $2 }')" >>"$results"
}

places=""
for n in $sizes; do places="$places site-$n"; done
places="$places vim-doc"
# Warm the page cache so that every command reads from memory.
for place in $places; do
  find "$work/$place" -name '*.htm*' -print0 | xargs -0 cat >/dev/null
done

for round in $(seq "$runs"); do
  echo "round $round of $runs" >&2
  for place in $places; do
    if [ "$place" = vim-doc ]; then
      measure "$place" cat sh -c 'cat *.html'
      measure "$place" full "$tangler" '*.html'
      measure "$place" refs "$tangler" -r -k- '*.html'
    else
      measure "$place" cat sh -c "find . -name '*.htm' -print0 | xargs -0 cat"
      measure "$place" full "$tangler"
      measure "$place" refs "$tangler" -r -k-
    fi
  done
  measure "names-$names" full "$tangler"
done

# The median of one column (3: seconds, 4: KiB) for a place and command.
median() {
  awk -v p="$1" -v c="$2" '$1 == p && $2 == c { print $'"$3"' }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'
}

echo "| pages | MB | cat s | full s | full / cat | full MiB | -r -k- s | -r -k- / cat | -r -k- MiB |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
for place in $places; do
  label=${place#site-}
  if [ "$place" = vim-doc ]; then label="vim-doc ($(ls "$work/vim-doc" | grep -c '\.html$'))"; fi
  mb=$(du -sm --apparent-size "$work/$place" | cut -f1)
  cat_s=$(median "$place" cat 3)
  full_s=$(median "$place" full 3)
  refs_s=$(median "$place" refs 3)
  printf '| %s | %s | %s | %s | %s | %d | %s | %s | %d |\n' "$label" "$mb" "$cat_s" "$full_s" \
    "$(ratio "$full_s" "$cat_s")" $(($(median "$place" full 4) / 1024)) "$refs_s" \
    "$(ratio "$refs_s" "$cat_s")" $(($(median "$place" refs 4) / 1024))
done
set -- $sizes
if [ $# -ge 2 ]; then
  echo
  first=""
  for n in $sizes; do
    if [ -n "$first" ]; then
      echo "Growth $first to $n pages: full run $(ratio "$(median "site-$n" full 3)" \
        "$(median "site-$first" full 3)")x, cat $(ratio "$(median "site-$n" cat 3)" \
        "$(median "site-$first" cat 3)")x"
    fi
    first=$n
  done
fi
echo
echo "Adversarial: $names candidate names, full run $(median "names-$names" full 3) s," \
  "peak $(($(median "names-$names" full 4) / 1024)) MiB"
