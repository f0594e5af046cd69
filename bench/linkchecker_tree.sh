#!/usr/bin/env bash
# Runs LinkChecker on a local tree as the peer check for a real site, offline:
# every page of the tree is a start URL (so pages nothing links to are read
# too), anchors are checked, external URLs are not fetched.
#
#   bench/linkchecker_tree.sh TREE OUTDIR
#
# Writes OUTDIR/linkchecker.txt (LinkChecker's text report; its progress goes
# to OUTDIR/linkchecker.err every few seconds), OUTDIR/time.txt
# (/usr/bin/time -v) and OUTDIR/summary.txt: wall and CPU seconds, peak KiB, broken
# files (distinct URLs that failed) and broken anchors (distinct URLs whose
# anchor is missing). LinkChecker checks each distinct URL once and reports
# it under the first page that links to it, so these counts are of distinct
# URLs, not of links.
#
# As root, LinkChecker drops to the user "nobody": TREE must be readable by
# everyone.
set -euo pipefail
tree=$(cd "$1" && pwd)
out=$2
mkdir -p "$out"
cat >"$out/linkcheckerrc" <<'RC'
[checking]
threads=10
[filtering]
checkextern=0
[AnchorCheck]
RC
find "$tree" -type f \( -iname '*.html' -o -iname '*.htm' \) -not -path '*/.*' | LC_ALL=C sort |
  sed 's#^#file://#' >"$out/start-urls.txt"
status=0
nice -n 10 /usr/bin/time -v -o "$out/time.txt" \
  linkchecker -f "$out/linkcheckerrc" --stdin <"$out/start-urls.txt" \
  >"$out/linkchecker.txt" 2>"$out/linkchecker.err" || status=$?
wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$out/time.txt")
cpu=$(awk -F': ' '/(User|System) time/ { s += $2 } END { printf "%.1f", s }' "$out/time.txt")
rss=$(awk -F': ' '/Maximum resident/ { print $2 }' "$out/time.txt")
files=$(grep -c '^Result     Error' "$out/linkchecker.txt" || true)
anchors=$(grep -c '^Warning .*Anchor `' "$out/linkchecker.txt" || true)
{
  echo "tree: $tree"
  echo "start pages: $(wc -l <"$out/start-urls.txt")"
  echo "exit status: $status"
  echo "wall seconds: $wall"
  echo "cpu seconds: $cpu"
  echo "peak KiB: $rss"
  echo "broken files (distinct URLs): $files"
  echo "broken anchors (distinct URLs): $anchors"
  grep '^That.s it' "$out/linkchecker.txt" || true
} | tee "$out/summary.txt"
