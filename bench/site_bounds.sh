#!/usr/bin/env bash
# tangler-site on trees made to hurt it: how much memory a huge page, a big
# nested site, Debian's rust-doc tree and a page of a million broken links
# take in every report format; how long a ladder of directory links takes;
# how its time compares with cat of every file; and whether a page swapped
# for a link out of the site is ever read there.
#
#   bench/site_bounds.sh [TANGLER_SITE]
#
# TANGLER_SITE (argument or environment) is the binary; without it a release
# build is made in build-bench/.
#
# Environment (defaults in brackets):
#   WORK    where the generated trees are kept [/tmp/tangler-site-bounds]
#   PARTS   which parts to run ["memory ladder time race"]
#   PAIRS   farm-bench pairs for each time ratio [5]
#   RACES   runs of the race case [100]
#
# Memory is /usr/bin/time's peak resident set. Time ratios are farm-bench's
# (tangler-site and cat run in turn, the ratio taken pair by pair; the
# median is quoted), cat being `find ROOT -type f -print0 | xargs -0 cat`.
# rust-doc is Debian's package (installed when missing); the other trees are
# generated once into WORK: the nested sites by generate_nested_site.py with
# seed 1, the 1 GiB page of text with a link and an image every 1 KB, the
# page of a million links to files that do not exist.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-/tmp/tangler-site-bounds}
parts=${PARTS-"memory ladder time race"}
pairs=${PAIRS:-5}
races=${RACES:-100}
ts=${1:-${TANGLER_SITE:-}}
rust=/usr/share/doc/rust-doc/html

if [ -z "$ts" ]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTANGLER_TESTS=OFF >/dev/null
  cmake --build "$root/build-bench" --target tangler-site >&2
  ts="$root/build-bench/tangler-site"
fi
ts=$(realpath "$ts")
mkdir -p "$work"
if [ ! -d "$rust" ]; then
  apt-get -o DPkg::Lock::Timeout=900 install -y rust-doc >&2
fi

nested() {  # PAGES: the nested site's folder, made once
  local dir="$work/site-$1"
  if [ ! -f "$dir.complete" ]; then
    rm -rf "$dir"
    python3 "$root/bench/generate_nested_site.py" "$dir" "$1" --seed 1 \
      --expected "$dir.expected.txt" >&2
    touch "$dir.complete"
  fi
  echo "$dir"
}

big_page() {
  local dir="$work/big-page"
  if [ ! -f "$dir.complete" ]; then
    mkdir -p "$dir"
    python3 - "$dir" <<'EOF'
import sys
chunk = ('<p>' + 'lorem ipsum dolor sit amet ' * 30 +
         '<a href="index.html#top">l</a> <img src="i.png" alt=""></p>\n')
with open(sys.argv[1] + '/index.html', 'w') as f:
    f.write('<!doctype html><title id="top">b</title>\n')
    n = 0
    while n < 1024 ** 3:
        f.write(chunk)
        n += len(chunk)
EOF
    : >"$dir/i.png"
    touch "$dir.complete"
  fi
  echo "$dir"
}

million() {
  local dir="$work/million"
  if [ ! -f "$dir.complete" ]; then
    mkdir -p "$dir"
    python3 - "$dir" <<'EOF'
import sys
with open(sys.argv[1] + '/index.html', 'w') as f:
    f.write('<!doctype html><title>m</title>\n')
    for i in range(1000000):
        f.write('<a href="missing-%d.html">x</a>\n' % i)
EOF
    touch "$dir.complete"
  fi
  echo "$dir"
}

peak() {  # FORMAT ROOT: "MiB status"
  local status=0 kib
  /usr/bin/time -f "%M" -o "$work/time.out" "$ts" -q --format="$1" -o "$work/report.out" "$2" \
    2>/dev/null || status=$?
  kib=$(tail -1 "$work/time.out")
  echo "$((kib / 1024)) $status"
}

if [[ " $parts " == *" memory "* ]]; then
  echo "| tree | text | json | sarif | junit | github |"
  echo "|---|---:|---:|---:|---:|---:|"
  for tree in "1 GiB page:$(big_page)" "nested 160,000 pages:$(nested 160000)" \
    "rust-doc:$rust" "a million broken links:$(million)"; do
    line="| ${tree%%:*} |"
    for format in text json sarif junit github; do
      read -r mib status <<<"$(peak "$format" "${tree#*:}")"
      line+=" $mib MiB |"
    done
    echo "$line"
  done
  echo
fi

if [[ " $parts " == *" ladder "* ]]; then
  echo "| ladder levels | seconds | findings | status |"
  echo "|---:|---:|---:|---:|"
  for levels in 20 200; do
    dir="$work/ladder-$levels"
    rm -rf "$dir"
    mkdir -p "$dir"
    echo '<a href="l0/page.html">start</a>' >"$dir/index.html"
    for ((i = 0; i < levels; i++)); do
      mkdir -p "$dir/l$i"
      echo '<a href="b/page.html#top">next</a>' >"$dir/l$i/page.html"
      if ((i + 1 < levels)); then
        ln -s "../l$((i + 1))" "$dir/l$i/a"
        ln -s "../l$((i + 1))" "$dir/l$i/b"
      fi
    done
    status=0
    /usr/bin/time -f "%e" -o "$work/time.out" timeout 60 "$ts" -q -o "$work/report.out" "$dir" \
      2>/dev/null || status=$?
    echo "| $levels | $(tail -1 "$work/time.out") | $(wc -l <"$work/report.out") | $status |"
  done
  echo
fi

ratio() {  # ROOT: farm-bench's median wall ratio of tangler-site to cat
  farm-bench -n "$pairs" --timeout 1800 \
    --vs "sh -c 'find $1/ -type f -print0 | xargs -0 cat >/dev/null'" \
    -- "$ts" -q -o /dev/null "$1" 2>&1 | awk '/^A\/B wall/ {print $4}'
}

if [[ " $parts " == *" time "* ]]; then
  echo "| tree | tangler-site / cat (wall, median of $pairs pairs) |"
  echo "|---|---:|"
  for tree in "nested 40,000 pages:$(nested 40000)" "nested 160,000 pages:$(nested 160000)" \
    "rust-doc:$rust"; do
    find "${tree#*:}/" -type f -print0 | xargs -0 cat >/dev/null  # a warm page cache
    echo "| ${tree%%:*} | $(ratio "${tree#*:}") |"
  done
  echo
fi

if [[ " $parts " == *" race "* ]]; then
  # One page of a 3,000-page site swapped, by atomic renames, between a
  # regular file and a link to a page outside the site, all the while.
  dir="$work/race"
  rm -rf "$dir"
  mkdir -p "$dir/site" "$dir/outside"
  for ((i = 0; i < 3000; i++)); do
    echo "<a href=\"p$(((i + 1) % 3000)).html\"></a>" >"$dir/site/p$i.html"
  done
  echo '<a href="p0.html">real</a>' >"$dir/site/swap.html"
  echo '<a href="outside-secret.html">secret</a>' >"$dir/outside/secret.html"
  (
    end=$((SECONDS + 900))
    while [ -d "$dir/site" ] && ((SECONDS < end)); do
      echo '<a href="p0.html">real</a>' >"$dir/site/.fresh"
      mv -Tf "$dir/site/.fresh" "$dir/site/swap.html"
      ln -sfn ../outside/secret.html "$dir/site/.link"
      mv -Tf "$dir/site/.link" "$dir/site/swap.html"
    done
  ) &
  swapper=$!
  clean=0 changed=0 wrong=0
  for ((run = 0; run < races; run++)); do
    status=0
    "$ts" -q --orphans=off -o "$work/race.out" "$dir/site" 2>"$work/race.err" || status=$?
    if grep -q outside-secret "$work/race.out"; then
      wrong=$((wrong + 1))
    elif [ "$status" = 0 ] && [ ! -s "$work/race.err" ]; then
      clean=$((clean + 1))
    elif [ "$status" = 3 ] && grep -qx "tangler-site: cannot read '.*/swap.html': changed during the run" "$work/race.err"; then
      changed=$((changed + 1))
    else
      wrong=$((wrong + 1))
    fi
  done
  kill "$swapper" 2>/dev/null || true
  wait "$swapper" 2>/dev/null || true
  echo "| race runs | clean, status 0 | change named, status 3 | outside page read or other result |"
  echo "|---:|---:|---:|---:|"
  echo "| $races | $clean | $changed | $wrong |"
fi
