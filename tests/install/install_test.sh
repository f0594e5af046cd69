#!/usr/bin/env bash
# Installs tangler and tangler-site the way a user would and runs the
# installed binaries on small sites. Run by CTest from the build folder:
#   install_test.sh install BUILD_DIR SOURCE_DIR CMAKE
#       cmake --install into a scratch prefix; the manual pages are checked too
#   install_test.sh package BUILD_DIR SOURCE_DIR CPACK VERSION
#       cpack -G DEB, the package's fields and contents, dpkg -x into a
#       scratch root
# tangler-site is expected wherever its sources are, so a tree that has them
# fails when the program or its page is not installed.
set -euo pipefail

mode=${1:?mode}
build=${2:?build folder}
source=${3:?source folder}
tool=${4:?cmake or cpack}
version=${5:-}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export LC_ALL=C.UTF-8

failures=0
site_expected=0
[ -f "$source/src/site/app/main.cc" ] && site_expected=1
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Compares two texts; shows both when they differ.
expect_equal() {
  local what=$1 expected=$2 actual=$3
  if [ "$expected" != "$actual" ]; then
    fail "$what"
    diff <(printf '%s' "$expected") <(printf '%s' "$actual") >&2 || true
  fi
}

# Runs binary $1 in directory $2 with the remaining arguments; sets out, err
# and status.
run_tangler() {
  local binary=$1 dir=$2
  shift 2
  status=0
  (cd "$dir" && "$binary" "$@" </dev/null >"$scratch/run.out" 2>"$scratch/run.err") || status=$?
  out=$(cat "$scratch/run.out"; echo .)
  out=${out%.}
  err=$(cat "$scratch/run.err"; echo .)
  err=${err%.}
}

# The site of the README's tour: a missing anchor, a missing image, a "file:"
# reference and an image that no page mentions; and a site with no fault.
make_sites() {
  mkdir -p "$scratch/site" "$scratch/clean"
  printf '%s\n' '<html><body>' \
    '<a href="news.htm">News</a>' \
    '<a href="news.htm#today">Today</a>' \
    '<img src="logo.gif">' \
    '<a href="file:///c:/x.htm">x</a>' \
    '</body></html>' >"$scratch/site/index.htm"
  # Stored with capital letters: found by "*.htm" and by the link all the same.
  printf '%s\n' '<a name="top"></a><a href="index.htm">Home</a>' >"$scratch/site/News.HTM"
  printf 'GIF89a' >"$scratch/site/old.gif"
  printf '%s\n' '<a name="top"></a><a href="#top">Top</a><a href="index.htm">Me</a>' \
    >"$scratch/clean/index.htm"
}

# Runs an installed binary on both sites and compares everything it wrote.
check_binary() {
  local binary=$1
  if [ ! -x "$binary" ]; then
    fail "$binary is not an executable file"
    return
  fi
  make_sites
  run_tangler "$binary" "$scratch/site"
  expect_equal "report of the sample site" '---------------
index.htm (3):           couldn'"'"'t find "news.htm#today"
index.htm (4):           couldn'"'"'t find graphics "logo.gif"
index.htm (5): evil "file:" ref "file:///c:/x.htm"
Couldn'"'"'t find "old.gif" mentioned
' "$out"
  expect_equal "error stream of the sample site" '(checking references....)
(checking for unlinked *.htm*....)
(checking for unlinked *.gif....)
' "$err"
  expect_equal "status of the sample site" 1 "$status"
  if [ -e "$scratch/site/tangler~.txt" ]; then fail "the reference file was left behind"; fi

  run_tangler "$binary" "$scratch/clean" -r -k-
  expect_equal "report of the clean site" '---------------
' "$out"
  expect_equal "status of the clean site" 0 "$status"

  # The usage text is the built binary's, byte for byte.
  run_tangler "$binary" "$scratch/clean" "-?"
  expect_equal "status after -?" 17 "$status"
  local built_usage
  built_usage=$(cd "$scratch/clean" && "$build/tangler" "-?" </dev/null || true)
  expect_equal "usage text of the installed binary" "$built_usage" "${out%$'\n'}"
}

# The option letters the command line accepts, read from its parser.
option_letters() {
  sed -n "s/^ *case '\(.\)':.*/\1/p" "$source/src/app/command_line.cc"
}

# Renders the manual page $1 as man does into text; fails when groff -ww or
# man -l has anything to say, when the page is missing, or when one of the
# remaining arguments is not a section heading.
render_manual_page() {
  local page=$1
  shift
  text=
  if [ ! -f "$page" ]; then
    fail "no manual page at $page"
    return 1
  fi
  # groff warns about every doubtful construct with -ww; a clean page says
  # nothing.
  local warnings
  warnings=$(gzip -dc "$page" | groff -man -Tutf8 -ww -z 2>&1)
  expect_equal "groff warnings for $page" "" "$warnings"

  text=$(MAN_DISABLE_SECCOMP=1 MANWIDTH=80 MANPAGER=cat man -l "$page" 2>"$scratch/man-err") ||
    fail "man -l $page failed"
  expect_equal "man -l error stream for $page" "" "$(cat "$scratch/man-err")"
  local heading
  for heading in "$@"; do
    grep -qx "$heading" <<<"$text" || fail "$page has no $heading section"
  done
}

check_manual_page() {
  local page=$1 text
  render_manual_page "$page" NAME SYNOPSIS DESCRIPTION OPTIONS REPORT 'REFERENCE FILE' \
    'EXIT STATUS' 'FILE NAMES' EXAMPLES || return
  # Every option the parser knows is described under OPTIONS, '-k' included.
  local options letter
  options=$(sed -n '/^OPTIONS$/,/^REPORT$/p' <<<"$text")
  local letters
  letters=$(option_letters)
  [ "$(wc -l <<<"$letters")" -ge 9 ] || fail "could not read the option letters from the parser"
  for letter in $letters; do
    grep -Eq -- "^ {7}-$letter" <<<"$options" || fail "option -$letter is not described"
  done
  for status in 0 1 3 17; do
    sed -n '/^EXIT STATUS$/,/^FILE NAMES$/p' <<<"$text" | grep -Eq "^ {7}$status " ||
      fail "exit status $status is not described"
  done
}

# A nested site for tangler-site: an anchor that is missing, a link whose
# letter case differs from the stored name, and an image nothing links to.
make_nested_site() {
  mkdir -p "$scratch/nested/docs"
  printf '%s\n' '<a href="docs/a.html#nowhere">A</a>' '<img src="Docs/logo.png">' \
    >"$scratch/nested/index.html"
  printf '%s\n' '<h1 id="top">A</h1><a href="/index.html">Home</a>' \
    >"$scratch/nested/docs/a.html"
  printf 'PNG' >"$scratch/nested/docs/logo.png"
  printf 'PNG' >"$scratch/nested/docs/old.png"
}

# Runs an installed tangler-site on the nested site, in every format.
check_site_binary() {
  local binary=$1
  if [ ! -x "$binary" ]; then
    fail "$binary is not an executable file"
    return
  fi
  make_nested_site
  run_tangler "$binary" "$scratch" -q nested
  expect_equal "tangler-site report of the nested site" \
    "nested/docs/old.png: warning: not referenced by any page [orphan]
nested/index.html:1:10: error: 'docs/a.html#nowhere': nested/docs/a.html has no anchor 'nowhere' [missing-anchor]
nested/index.html:2:11: error: 'Docs/logo.png' differs in letter case from the stored 'nested/docs/logo.png' [case-mismatch]
" "$out"
  expect_equal "tangler-site error stream with -q" "" "$err"
  expect_equal "tangler-site status of the nested site" 1 "$status"

  # Every other format of the same run, read back: the json's kinds in order,
  # the sarif against its schema, the junit by an XML parser, one github
  # command a finding.
  local format kinds python=/usr/bin/python3
  [ -x "$python" ] || python=python3
  for format in json sarif junit github; do
    run_tangler "$binary" "$scratch" -q --format="$format" -o "$scratch/report.$format" nested
    expect_equal "tangler-site status with --format=$format -o" 1 "$status"
  done
  kinds=$("$python" -c 'import json, sys
print(" ".join(f["kind"] for f in json.load(open(sys.argv[1]))["findings"]))' \
    "$scratch/report.json") || fail "the json report does not parse"
  expect_equal "kinds in the json report" "orphan missing-anchor case-mismatch" "$kinds"
  for format in sarif junit; do
    "$python" "$source/tests/site/check_report.py" $format "$scratch/report.$format" \
      >"$scratch/check.log" || fail "the $format report does not pass: $(cat "$scratch/check.log")"
  done
  expect_equal "github commands" 3 "$(grep -c '^::[a-z]* file=nested/' "$scratch/report.github")"

  run_tangler "$binary" "$scratch" --no-such-option
  expect_equal "tangler-site status after a usage error" 2 "$status"
  run_tangler "$binary" "$scratch" --version
  expect_equal "tangler-site status after --version" 0 "$status"
  grep -q "tangler-site" <<<"$out" || fail "--version does not name tangler-site: $out"
}

# The long options that tangler-site --help lists; at least the eleven of its
# command line.
site_long_options() {
  "$1" --help </dev/null | grep -oE -- '--[a-z][a-z-]*' | sort -u
}

# The short options that tangler-site --help lists, each with its long
# option: "-V, --version".
site_short_options() {
  "$1" --help </dev/null | grep -oE -- '^  -[a-zA-Z], --[a-z][a-z-]*' | sed 's/^  //'
}

# tangler-site's page: every option of --help described under OPTIONS, a
# short one beside its long one, every exit status under EXIT STATUS.
check_site_manual_page() {
  local page=$1 binary=$2 text
  render_manual_page "$page" NAME SYNOPSIS DESCRIPTION OPTIONS FINDINGS 'REPORT FORMATS' \
    'EXIT STATUS' EXAMPLES || return
  local options option long_options pair
  options=$(sed -n '/^OPTIONS$/,/^FINDINGS$/p' <<<"$text")
  long_options=$(site_long_options "$binary")
  [ "$(wc -l <<<"$long_options")" -ge 11 ] ||
    fail "could not read the long options from tangler-site --help: $long_options"
  for option in $long_options; do
    grep -Eq -- "^ {7}(-[a-zA-Z], )?$option([=, ]|\$)" <<<"$options" ||
      fail "option $option is not described in tangler-site.1"
  done
  while IFS= read -r pair; do
    [ -n "$pair" ] || continue
    grep -Eq -- "^ {7}$pair([=, ]|\$)" <<<"$options" ||
      fail "option $pair is not described in tangler-site.1"
  done <<<"$(site_short_options "$binary")"
  for status in 0 1 2 3; do
    sed -n '/^EXIT STATUS$/,/^EXAMPLES$/p' <<<"$text" | grep -Eq "^ {7}$status " ||
      fail "exit status $status is not described in tangler-site.1"
  done
}

# Checks tangler-site and its page under the installed tree $1 (its bin/ and
# share/man/man1/), or that neither is there when this tree has no
# tangler-site.
check_site_installed() {
  local prefix=$1
  if [ "$site_expected" = 1 ]; then
    check_site_binary "$prefix/bin/tangler-site"
    check_site_manual_page "$prefix/share/man/man1/tangler-site.1.gz" "$prefix/bin/tangler-site"
  elif [ -e "$prefix/bin/tangler-site" ]; then
    fail "tangler-site installed from a tree without its sources"
  fi
}

case "$mode" in
  install)
    prefix="$scratch/prefix"
    "$tool" --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
      { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
    check_binary "$prefix/bin/tangler"
    check_manual_page "$prefix/share/man/man1/tangler.1.gz"
    check_site_installed "$prefix"
    ;;
  package)
    "$tool" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/packages" >"$scratch/cpack.log" ||
      { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
    shopt -s nullglob
    debs=("$scratch"/packages/*.deb)
    if [ ${#debs[@]} -ne 1 ]; then
      fail "expected one package, found ${#debs[@]}"
      exit 1
    fi
    deb=${debs[0]}
    arch=$(dpkg --print-architecture)
    expect_equal "package file name" "tangler_${version}_${arch}.deb" "$(basename "$deb")"
    expect_equal "Package field" tangler "$(dpkg-deb -f "$deb" Package)"
    expect_equal "Version field" "$version" "$(dpkg-deb -f "$deb" Version)"
    expect_equal "Architecture field" "$arch" "$(dpkg-deb -f "$deb" Architecture)"
    expect_equal "Section field" web "$(dpkg-deb -f "$deb" Section)"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer field"
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libc6 libstdc++6 libgcc-s1; do
      grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
    done
    description=$(dpkg-deb -f "$deb" Description)
    expect_equal "Description summary" "check the links of a web site held as local files" \
      "$(head -n1 <<<"$description")"
    [ "$(wc -l <<<"$description")" -ge 2 ] || fail "no long description"
    if [ "$site_expected" = 1 ]; then
      grep -q "tangler-site" <<<"$description" || fail "the description does not name tangler-site"
    fi

    # Exactly the binaries and their manual pages, besides their directories.
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
    expected_files='./usr/bin/tangler
./usr/share/man/man1/tangler.1.gz'
    if [ "$site_expected" = 1 ]; then
      expected_files='./usr/bin/tangler
./usr/bin/tangler-site
./usr/share/man/man1/tangler-site.1.gz
./usr/share/man/man1/tangler.1.gz'
    fi
    expect_equal "package contents" "$expected_files" "$files"

    root="$scratch/root"
    dpkg -x "$deb" "$root"
    check_binary "$root/usr/bin/tangler"
    check_manual_page "$root/usr/share/man/man1/tangler.1.gz"
    check_site_installed "$root/usr"
    ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "$mode: all checks passed"
