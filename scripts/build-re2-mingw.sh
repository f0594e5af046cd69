#!/usr/bin/env bash
# Builds RE2 as a static library for Windows with a MinGW-w64 compiler, from
# Debian's source package (the same RE2 and Unicode tables as the Linux
# build's libre2-dev):
#
#   scripts/build-re2-mingw.sh CXX AR DEST
#
# leaves DEST/include/re2/*.h and DEST/lib/libre2.a, and the unpacked sources
# in DEST/src. CMake runs it while configuring a Windows build
# (DEST = BUILD/re2-mingw); a second run with the same compiler and flags
# does nothing. It needs `apt-get source` to find re2 (a deb-src entry) and
# the tools that regenerate the Unicode tables Debian's source leaves out
# (perl, python3-six, unicode-data): scripts/install-windows-deps.sh sets up
# both.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 CXX AR DEST" >&2
  exit 2
fi
cxx=$1
ar=$2
dest=$(realpath -m "$3")
jobs=${JOBS:-$(nproc)}
# As the project's own code: optimised, static (no DLL is made), the
# project's language standard. The upstream Makefile adds -DNDEBUG and its
# own warning flags; RE2's warnings are not the project's, so no -Werror.
cxxflags="-O2 -std=c++20"
stamp="$dest/lib/re2-mingw.stamp"
want="$cxx $cxxflags"
if [ -f "$dest/lib/libre2.a" ] && [ -f "$stamp" ] && [ "$(sed -n 2p "$stamp")" = "$want" ]; then
  exit 0
fi

missing=()
command -v apt-get >/dev/null || missing+=(apt-get)
command -v dpkg-source >/dev/null || missing+=(dpkg-source)
command -v make >/dev/null || missing+=(make)
command -v perl >/dev/null || missing+=(perl)
/usr/bin/python3 -c 'import six' 2>/dev/null || missing+=("python3 with six")
[ -f /usr/share/unicode/UnicodeData.txt ] || missing+=("unicode-data")
if [ ${#missing[@]} -gt 0 ]; then
  echo "$0: missing ${missing[*]}: run scripts/install-windows-deps.sh" >&2
  exit 1
fi

start=$(date +%s)
rm -rf "$dest"
mkdir -p "$dest/src"
log="$dest/src/build.log"
fail() {
  tail -n 30 "$log" >&2
  echo "$0: $1 (the whole log: $log)" >&2
  exit 1
}
# A plain download and unpack (no build dependencies). Run as root, apt
# would hand the download to its sandbox user, who cannot write here. apt has
# checked the files against the archive's signed index; dpkg-source's own
# signature check only warns where no Debian keyring is installed.
apt_options=(-q --download-only)
[ "$(id -u)" -ne 0 ] || apt_options+=(-o APT::Sandbox::User=root)
(cd "$dest/src" && apt-get "${apt_options[@]}" source re2) >>"$log" 2>&1 ||
  fail "'apt-get source re2' failed: Debian's source packages need a deb-src entry (scripts/install-windows-deps.sh adds one)"
dsc=$(ls "$dest/src"/re2_*.dsc)
(cd "$dest/src" && dpkg-source -x "$(basename "$dsc")" re2) >>"$log" 2>&1 ||
  fail "unpacking $dsc failed"
version=$(sed -n 's/^Version: //p' "$dsc")

# REBUILD_TABLES: Debian's source omits the generated Unicode and Perl class
# tables; they are made again from /usr/share/unicode, as Debian's build does.
# /usr/bin first, so that the table scripts meet the python3 that has six.
PATH=/usr/bin:$PATH make -C "$dest/src/re2" -j"$jobs" REBUILD_TABLES=1 \
  CXX="$cxx" AR="$ar" CXXFLAGS="$cxxflags" prefix="$dest" static-install >>"$log" 2>&1 ||
  fail "building RE2 $version failed"
printf '%s\n%s\n' "$version" "$want" >"$stamp"
echo "RE2 $version for $("$cxx" -dumpmachine) built in $(($(date +%s) - start)) s: $dest"
