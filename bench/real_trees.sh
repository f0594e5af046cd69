#!/usr/bin/env bash
# Runs two tangler-site binaries (a version before a change and one after it)
# on the HTML trees that Debian's documentation packages ship, beside cat
# reading every file, and prints a Markdown table: per tree, pages, files,
# the findings of each kind and the wall time of each binary.
#
#   bench/real_trees.sh BEFORE [AFTER]
#   e.g. bench/real_trees.sh /work/bin-1.1/tangler-site build-bench/tangler-site
#
# Without AFTER only the BEFORE column is run.
#
# Environment (defaults in brackets):
#   TREES   where the trees are copied and the reports kept [/work/trees]
#   RUNS    timed runs of each command; medians are reported [3]
#   NAMES   the trees to run, by name, separated by blanks [all of them]
#
# A tree that is missing from TREES is copied from where its package installs
# it, with symbolic links resolved (cp -rL), so that it holds what a web
# server would serve; a link that leads nowhere is left out and named on the
# error stream. The package is installed first when its directory is missing
# (apt-get, as root).
#
# Each binary is run with the tree as its working directory and ROOT
# omitted, so report paths are relative to the tree. Kept per tree, for
# diffing (SIDE is "before" or "after"):
#   TREES/NAME.SIDE.txt   the text report (of the last timed run)
#   TREES/NAME.SIDE.err   its error stream (the summary line, any unreadable file)
#   TREES/NAME.SIDE.json  the JSON report, which the counts are taken from
# The counts of the JSON report must equal those of the text report
# (bench/report_kinds.py checks), and are one number when both binaries
# agree, "BEFORE → AFTER" when they do not.
#
# Times: wall seconds, the median of RUNS rounds; in each round cat of every
# file of the tree (find . -type f | xargs cat), BEFORE and AFTER run one
# after the other, so that a slow stretch of a shared machine falls on all
# three alike. Compare ratios taken in one sitting, not seconds across
# sittings. MiB: peak resident memory of the JSON run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
trees=${TREES:-/work/trees}
runs=${RUNS:-3}
names=${NAMES:-}
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  sed -n '7,9p' "$0" >&2
  exit 2
fi
bins=()
for b in "$@"; do
  [ -x "$b" ] || { echo "real_trees.sh: no tangler-site at $b" >&2; exit 2; }
  bins+=("$(realpath "$b")")
done
sides=(before after)
sides=("${sides[@]:0:${#bins[@]}}")

# name, generator, Debian package, directory the package installs the tree in
catalogue="
postgresql DocBook postgresql-doc-15 /usr/share/doc/postgresql-doc-15/html
octave Texinfo octave-doc /usr/share/doc/octave/octave.html
sdl2 Doxygen libsdl2-doc /usr/share/doc/libsdl2-doc/html
django Sphinx python-django-doc /usr/share/doc/python-django-doc/html
vim vim2html vim-doc /usr/share/doc/vim/html
rust rustdoc,mdBook rust-doc /usr/share/doc/rust-doc/html
cmake Sphinx cmake-doc /usr/share/doc/cmake-data/html
python3.11 Sphinx python3.11-doc /usr/share/doc/python3.11/html
openjdk-17 javadoc openjdk-17-doc /usr/share/doc/openjdk-17-jre-headless/api
boost BoostBook libboost1.74-doc /usr/share/doc/libboost1.74-doc
gtk4 gi-docgen libgtk-4-doc /usr/share/doc/libgtk-4-doc
scipy Sphinx python-scipy-doc /usr/share/doc/python-scipy-doc/html
libstdc++-12 DocBook,Doxygen libstdc++-12-doc /usr/share/doc/gcc-12-base/libstdc++
git AsciiDoc git-doc /usr/share/doc/git-doc
glib gtk-doc libglib2.0-doc /usr/share/doc/libglib2.0-doc
mkdocs MkDocs mkdocs-doc /usr/share/doc/mkdocs/html
nodejs node-doc-tool nodejs-doc /usr/share/doc/nodejs/api
sphinx Sphinx sphinx-doc /usr/share/doc/sphinx-doc/html
"
wanted() { [ -z "$names" ] || [[ " $names " == *" $1 "* ]]; }

mkdir -p "$trees"
while read -r name gen pkg dir; do
  [ -n "$name" ] && wanted "$name" || continue
  [ -d "$trees/$name" ] && continue
  if [ ! -d "$dir" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y \
      --no-install-recommends "$pkg" >&2
  fi
  # cp -L fails on a link that leads nowhere, copies the rest, and says which.
  if ! cp -rL "$dir" "$trees/$name.partial" 2>"$trees/$name.cp-errors"; then
    echo "real_trees.sh: $name: some paths were left out of the copy:" >&2
    sed 's/^/  /' "$trees/$name.cp-errors" >&2
  else
    rm -f "$trees/$name.cp-errors"
  fi
  chmod -R a+rX "$trees/$name.partial"  # LinkChecker reads as "nobody"
  mv "$trees/$name.partial" "$trees/$name"
done <<<"$catalogue"

seconds() {  # ERRFILE COMMAND...: wall seconds of one run of COMMAND, its error stream to ERRFILE
  local err=$1 start=$EPOCHREALTIME
  shift
  "$@" >/dev/null 2>"$err" || true
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cat_all() { find . -type f -print0 | xargs -0 cat >/dev/null; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
cell() {  # BEFORE [AFTER]: one value when they agree
  if [ $# -lt 2 ] || [ "$1" = "$2" ]; then printf '%s' "$1"; else printf '%s → %s' "$1" "$2"; fi
}

kinds="missing-file missing-anchor case-mismatch outside-root file-scheme invalid-url orphan"
head="| tree | generator | pages | files | MB | ${kinds// / | } | cat s"
rule="|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:"
for side in "${sides[@]}"; do head+=" | $side s | $side / cat"; rule+="|---:|---:"; done
head+=" | MiB |"
rule+="|---:|"
echo "$head"
echo "$rule"
while read -r name gen pkg dir; do
  [ -n "$name" ] && wanted "$name" || continue
  cd "$trees/$name"
  cat_all
  declare -A counts=() mib=() times=()
  for i in "${!bins[@]}"; do
    side=${sides[$i]}
    kib=$( (/usr/bin/time -f %M "${bins[$i]}" -q -f json -o "$trees/$name.$side.json" || true) 2>&1 |
      tail -n 1)
    mib[$side]=$((kib / 1024))
  done
  cat_times=""
  for _ in $(seq "$runs"); do
    cat_times+="$(seconds /dev/null cat_all) "
    for i in "${!bins[@]}"; do
      side=${sides[$i]}
      times[$side]+="$(seconds "$trees/$name.$side.err" "${bins[$i]}" -o "$trees/$name.$side.txt") "
    done
  done
  for side in "${sides[@]}"; do
    counts[$side]=$(python3 "$root/bench/report_kinds.py" "$trees/$name.$side.json" "$trees/$name.$side.txt")
    if grep -v '^tangler-site: [0-9]* pages' "$trees/$name.$side.err" >/dev/null; then
      echo "real_trees.sh: $name, $side: the error stream holds more than the summary:" >&2
      grep -v '^tangler-site: [0-9]* pages' "$trees/$name.$side.err" | head -n 5 | sed 's/^/  /' >&2
    fi
  done
  read -r -a b <<<"${counts[before]}"
  a=()
  [ ${#bins[@]} -eq 2 ] && read -r -a a <<<"${counts[after]}"
  row="| $name | $gen"
  for k in "${!b[@]}"; do
    if [ $k -eq 2 ]; then row+=" | $(du -sm . | cut -f1)"; fi
    row+=" | $(cell "${b[$k]}" ${a[$k]+"${a[$k]}"})"
  done
  cat_s=$(tr ' ' '\n' <<<"$cat_times" | grep . | median)
  row+=" | $cat_s"
  m=""
  for side in "${sides[@]}"; do
    s=$(tr ' ' '\n' <<<"${times[$side]}" | grep . | median)
    row+=" | $s | $(ratio "$s" "$cat_s")"
    m+="${mib[$side]} "
  done
  row+=" | $(cell ${m}) |"
  echo "$row"
  unset counts mib times
done <<<"$catalogue"
