#!/usr/bin/env bash
# Times tangler on synthetic sites, beside cat reading every page once.
#
#   bench/run.sh [WORKDIR]        (SIZES="2500 10000 40000" RUNS=5 by default)
#
# Prints a Markdown table of medians: wall-clock seconds and peak resident
# memory for a full run, a "-r -k-" run and a "-cd" run at each size, and the
# seconds cat takes to read the same pages. Sites are generated once (seed 1)
# and kept in WORKDIR for later runs.
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

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs a command RUNS times in the site; prints "median-seconds median-KiB".
measure() {
  local site=$1; shift
  local times=() mems=()
  for _ in $(seq "$runs"); do
    local line
    (cd "$site" && /usr/bin/time -o "$work/time.out" -f "%e %M" "$@" >/dev/null 2>&1) || true
    line=$(tail -n 1 "$work/time.out")
    times+=("${line% *}")
    mems+=("${line#* }")
  done
  echo "$(printf '%s\n' "${times[@]}" | median) $(printf '%s\n' "${mems[@]}" | median)"
}

echo "| pages | site MB | cat s | full s | full MiB | -r -k- s | -r -k- MiB | -cd s | -cd MiB | full / cat |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for n in $sizes; do
  site="$work/site-$n"
  if [ ! -f "$site/.complete" ]; then
    rm -rf "$site"
    python3 "$root/bench/generate_site.py" "$site" "$n" 1
    touch "$site/.complete"
  fi
  mb=$(du -sm "$site" | cut -f1)
  # Warm the page cache so every command reads from memory.
  find "$site" -name '*.htm' -print0 | xargs -0 cat >/dev/null
  read -r cat_s _ < <(measure "$site" sh -c "find . -name '*.htm' -print0 | xargs -0 cat")
  read -r full_s full_k < <(measure "$site" "$tangler")
  read -r refs_s refs_k < <(measure "$site" "$tangler" -r -k-)
  read -r cd_s cd_k < <(measure "$site" "$tangler" -cd)
  ratio=$(awk -v a="$full_s" -v b="$cat_s" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
  printf '| %s | %s | %s | %s | %d | %s | %d | %s | %d | %s |\n' "$n" "$mb" "$cat_s" \
    "$full_s" $((full_k / 1024)) "$refs_s" $((refs_k / 1024)) "$cd_s" $((cd_k / 1024)) "$ratio"
done
