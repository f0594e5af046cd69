#!/usr/bin/env bash
# Runs tangler-site on real documentation trees that Debian packages ship,
# one per generator, beside cat reading every file once, and prints a
# Markdown table with LinkChecker's results beside it where they exist.
#
#   bench/real_trees.sh [TANGLER_SITE]
#
# Environment (defaults in brackets):
#   TREES   where the trees are copied [/work/trees]
#   RUNS    timed runs of each command; medians are reported [3]
#   LC_DIR  where bench/linkchecker_tree.sh left its results, one directory
#           per tree [/work/bench-notes/linkchecker]
#
# Missing trees are installed (apt-get, as root) and copied with symbolic
# links resolved, so that a tree holds what a web server would serve. The
# report of each run is kept as TREES/NAME.report.txt. LinkChecker itself
# takes from minutes to hours per tree and is run apart:
#   nice -n 10 bench/linkchecker_tree.sh TREES/NAME LC_DIR/NAME &
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
trees=${TREES:-/work/trees}
runs=${RUNS:-3}
lc_dir=${LC_DIR:-/work/bench-notes/linkchecker}
ts=${1:-${TANGLER_SITE:-$root/build-bench/tangler-site}}
[ -x "$ts" ] || { echo "real_trees.sh: no tangler-site at $ts" >&2; exit 2; }
ts=$(realpath "$ts")

# name, generator, Debian package, directory the package installs
catalogue="
django Sphinx python-django-doc /usr/share/doc/python-django-doc/html
sdl2 Doxygen libsdl2-doc /usr/share/doc/libsdl2-doc/html
octave Texinfo octave-doc /usr/share/doc/octave/octave.html
postgresql DocBook postgresql-doc-15 /usr/share/doc/postgresql-doc-15/html
vim vim2html vim-doc /usr/share/doc/vim/html
"

mkdir -p "$trees"
while read -r name gen pkg dir; do
  [ -n "$name" ] || continue
  [ -d "$trees/$name" ] && continue
  [ -d "$dir" ] || DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$pkg" >&2
  cp -rL "$dir" "$trees/$name"
  chmod -R a+rX "$trees/$name"  # LinkChecker reads as "nobody"
done <<<"$catalogue"

seconds() {  # wall seconds of one run of the command, in the current directory
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || true
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cat_all() { find . -type f -print0 | xargs -0 cat >/dev/null; }
lc() { [ -f "$lc_dir/$1/summary.txt" ] && awk -F': ' -v k="$2" '$1 == k { print $2 }' "$lc_dir/$1/summary.txt" || echo "-"; }

echo "| tree | generator | pages | files | MB | cat s | tangler-site s | MiB | findings (each/distinct) | LinkChecker s | LC broken files | LC broken anchors |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|"
while read -r name gen pkg dir; do
  [ -n "$name" ] || continue
  cd "$trees/$name"
  cat_all
  cat_s=$(for _ in $(seq "$runs"); do seconds cat_all; echo; done | median)
  ts_s=$(for _ in $(seq "$runs"); do seconds "$ts" -o "$trees/$name.report.txt"; echo; done | median)
  kib=$( (/usr/bin/time -f %M "$ts" -q -o /dev/null || true) 2>&1 >/dev/null | tail -n 1)
  counts=$(python3 "$root/bench/count_findings.py" "$trees/$name.report.txt")
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$gen" \
    "$(find . -type f \( -iname '*.html' -o -iname '*.htm' \) -not -path '*/.*' | wc -l)" \
    "$(find . -type f | wc -l)" "$(du -sm . | cut -f1)" "$cat_s" "$ts_s" "$((kib / 1024))" "$counts" \
    "$(lc "$name" "wall seconds")" "$(lc "$name" "broken files (distinct URLs)")" \
    "$(lc "$name" "broken anchors (distinct URLs)")"
done <<<"$catalogue"
