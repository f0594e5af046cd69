#!/usr/bin/env bash
# Times tangler-site on generated nested sites, beside cat reading every file
# once and beside the npm link checkers linkinator and hyperlink, and checks
# its report against the faults the generator planted.
#
#   bench/site_run.sh [TANGLER_SITE]
#
# TANGLER_SITE (argument or environment) is the binary to time; without it a
# release build of the target tangler-site is made in build-bench/. "none", or
# a failed build, times only cat and the peers.
#
# Environment (defaults in brackets):
#   WORK        where sites and results are kept [/tmp/tangler-site-bench]
#   SIZES       page counts for tangler-site and cat ["10000 40000"]
#   RUNS        rounds, interleaved; the medians are reported [3]
#   PEER_SIZES  page counts for the peers, which take minutes ["1000 2000"]
#   PEER_RUNS   runs of each peer at each of those sizes [1]
#   PEERS       which peers to run ["linkinator hyperlink"]; "" runs none
#   PEER_PREFIX npm prefix holding the peers [WORK/peers]; missing ones are
#               installed there (npm install --prefix, the versions measured:
#               linkinator 7.6.1, hyperlink 5.0.4)
#
# Sites are generated once with seed 1 (generate_nested_site.py WORK/site-N N)
# and kept. tangler-site runs inside the site with ROOT omitted, so its report
# has the paths of WORK/site-N.expected.txt; a differing report is kept as
# WORK/report-N.diff. The page cache is warmed before timing, and the rounds
# are interleaved so that a slow spell of a shared machine weighs on every
# command alike: compare ratios within one run's tables.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-/tmp/tangler-site-bench}
sizes=${SIZES-"10000 40000"}
runs=${RUNS:-3}
peer_sizes=${PEER_SIZES-"1000 2000"}
peer_runs=${PEER_RUNS:-1}
peers=${PEERS-"linkinator hyperlink"}
peer_prefix=${PEER_PREFIX:-$work/peers}
peer_bin=$peer_prefix/node_modules/.bin
ts=${1:-${TANGLER_SITE:-}}

if [ -z "$ts" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTANGLER_TESTS=OFF >/dev/null
  if cmake --build "$root/build-bench" --target tangler-site >&2; then
    ts="$root/build-bench/tangler-site"
  else
    echo "site_run.sh: no tangler-site to time; timing cat and the peers only" >&2
  fi
fi
if [ "$ts" = none ]; then
  ts=
elif [ -n "$ts" ]; then
  ts=$(realpath "$ts")
fi
for p in $peers; do
  case $p in
    linkinator) version=7.6.1 ;;
    hyperlink) version=5.0.4 ;;
    *) echo "site_run.sh: unknown peer $p" >&2; exit 2 ;;
  esac
  [ -x "$peer_bin/$p" ] || npm install --prefix "$peer_prefix" --no-audit --no-fund "$p@$version" >&2
done

mkdir -p "$work"
results="$work/results.txt"
: >"$results"
all_sizes=$(printf '%s\n' $sizes $( [ -n "$peers" ] && echo $peer_sizes) | sort -nu)
for n in $all_sizes; do
  site="$work/site-$n"
  if [ ! -f "$work/site-$n.complete" ]; then
    rm -rf "$site" "$site.expected.txt"
    python3 "$root/bench/generate_nested_site.py" "$site" "$n" --seed 1
    touch "$work/site-$n.complete"
  fi
  (cd "$site" && find . -type f -print0 | xargs -0 cat >/dev/null)
done

# One timed run: appends "size command seconds KiB cpu-seconds" to the
# results. Wall time comes from the shell's clock (microseconds), peak memory
# and user + system time from time(1): on a shared machine the CPU time of a
# single-threaded peer moves less than its wall time.
measure() {
  local n=$1 name=$2 dir=$3
  shift 3
  local start end
  start=$EPOCHREALTIME
  (cd "$dir" && /usr/bin/time -o "$work/time.out" -f "%M %U %S" "$@") || true
  end=$EPOCHREALTIME
  echo "$n $name $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')" \
    "$(tail -n 1 "$work/time.out" | awk '{ printf "%d %.2f", $1, $2 + $3 }')" >>"$results"
}

cat_all() { find . -type f -print0 | xargs -0 cat >/dev/null; }
export -f cat_all

# tangler-site's own run: the report to report-N.txt, the summary line to
# summary-N.txt; exit status 1 is expected, as the sites hold planted errors.
run_ts() {
  local n=$1
  measure "$n" tangler-site "$work/site-$n" sh -c '"$0" >"$1" 2>"$2"; [ $? -le 1 ]' \
    "$ts" "$work/report-$n.txt" "$work/summary-$n.txt"
}

ts_sizes=$(printf '%s\n' $sizes $( [ -n "$peers" ] && echo $peer_sizes) | sort -nu)
for round in $(seq "$runs"); do
  echo "round $round of $runs" >&2
  for n in $ts_sizes; do
    measure "$n" cat "$work/site-$n" bash -c cat_all
    [ -z "$ts" ] || run_ts "$n"
  done
done

for n in $peer_sizes; do
  [ -n "$peers" ] || break
  for round in $(seq "$peer_runs"); do
    for p in $peers; do
      echo "$p on $n pages, run $round of $peer_runs" >&2
      case $p in
        linkinator)
          measure "$n" linkinator "$work" sh -c '"$0" "$1" --recurse --check-fragments --check-css \
            --skip "^(https?:)?//(?!localhost)" --format csv >"$2" 2>/dev/null; [ $? -le 1 ]' \
            "$peer_bin/linkinator" "site-$n" "$work/linkinator-$n.csv"
          ;;
        hyperlink)
          measure "$n" hyperlink "$work" sh -c '"$0" --root "$1" -r -i "$1/index.html" >"$2" 2>/dev/null; [ $? -le 1 ]' \
            "$peer_bin/hyperlink" "site-$n" "$work/hyperlink-$n.tap"
          ;;
        *)
          echo "site_run.sh: unknown peer $p" >&2
          exit 2
          ;;
      esac
    done
  done
done

# The median of one column (3: seconds, 4: KiB, 5: CPU seconds) for a size and command; "-"
# when that command was not run.
median() {
  awk -v n="$1" -v c="$2" '$1 == n && $2 == c { print $'"$3"' }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else print v[int((NR + 1) / 2)] }'
}
mib() { [ "$1" = "-" ] && echo "-" || echo $(($1 / 1024)); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b <= 0) print "-"; else printf "%.1f", a / b }'; }
verdict() {
  local n=$1
  [ -n "$ts" ] || { echo "-"; return; }
  if diff "$work/site-$n.expected.txt" "$work/report-$n.txt" >"$work/report-$n.diff"; then
    rm -f "$work/report-$n.diff"
    echo "yes ($(wc -l <"$work/site-$n.expected.txt") findings)"
  else
    echo "no: $(grep -c '^<' "$work/report-$n.diff") missed, $(grep -c '^>' "$work/report-$n.diff") unplanted"
  fi
}

echo "| pages | site MB | files | cat s | tangler-site s | CPU s | MiB | tangler-site / cat | report = planted |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---|"
for n in $ts_sizes; do
  c=$(median "$n" cat 3)
  t=$(median "$n" tangler-site 3)
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$n" "$(du -sm "$work/site-$n" | cut -f1)" \
    "$(find "$work/site-$n" -type f | wc -l)" "$c" "$t" "$(median "$n" tangler-site 5)" \
    "$(mib "$(median "$n" tangler-site 4)")" \
    "$(ratio "$t" "$c")" "$(verdict "$n")"
done

if [ -n "$peers" ]; then
  echo
  echo "| pages | tangler-site s | CPU s | peer | peer s | CPU s | MiB | peer / tangler-site | CPU ratio |"
  echo "|---:|---:|---:|---|---:|---:|---:|---:|---:|"
  for n in $peer_sizes; do
    t=$(median "$n" tangler-site 3)
    tc=$(median "$n" tangler-site 5)
    for p in $peers; do
      s=$(median "$n" "$p" 3)
      pc=$(median "$n" "$p" 5)
      printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$n" "$t" "$tc" "$p" "$s" "$pc" \
        "$(mib "$(median "$n" "$p" 4)")" "$(ratio "$s" "$t")" "$(ratio "$pc" "$tc")"
    done
  done
  echo
  for n in $peer_sizes; do
    for p in $peers; do
      ext=$([ "$p" = linkinator ] && echo csv || echo tap)
      echo "$p, $n pages:"
      (cd "$work" && python3 "$root/bench/compare_findings.py" --quiet --expected "site-$n.expected.txt" \
        --site "site-$n" "--$p" "$p-$n.$ext") | sed 's/^/    /'
    done
  done
fi
