#!/usr/bin/env bash
# Installs what building tangler.exe and tangler-site.exe and testing them
# under Wine needs, when it is missing: the MinGW-w64 cross compilers (32- and
# 64-bit), 64-bit Wine, the GoogleTest sources (built for Windows from
# /usr/src/googletest), and what building RE2 for Windows from Debian's
# source package takes (scripts/build-re2-mingw.sh): a deb-src entry for the
# Debian archive, so that `apt-get source re2` works, and the tools that
# regenerate its Unicode tables. Debian packages only; safe to run again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"$root/scripts/install-deps.sh"

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v wineserver >/dev/null || need+=(wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
# RE2 from source: unpacked by dpkg-source, built by its own Makefile, its
# tables made by Perl and Python scripts from Debian's Unicode data (the
# same version that Debian's libre2 was built with).
command -v dpkg-source >/dev/null || need+=(dpkg-dev)
command -v xz >/dev/null || need+=(xz-utils)
command -v make >/dev/null || need+=(make)
command -v perl >/dev/null || need+=(perl)
/usr/bin/python3 -c 'import six' 2>/dev/null || need+=(python3-six)
[ -f /usr/share/unicode/UnicodeData.txt ] || need+=(unicode-data)

# A deb-src twin of each entry for the Debian archive (and its security
# archive), in a file of its own, when no source entry finds re2 yet.
have_re2_source() { apt-cache showsrc re2 2>/dev/null | grep -q '^Package: re2$'; }
deb_src_file=/etc/apt/sources.list.d/debian-src
add_sources=0
if ! have_re2_source; then
  add_sources=1
  archive='://[^ ]*/debian(-security)?/?( |$)'
  found=$(mktemp -d)
  # deb822 stanzas (*.sources), copied whole with their type changed.
  for file in /etc/apt/sources.list.d/*.sources; do
    if [ ! -f "$file" ] || [ "$file" = "$deb_src_file.sources" ]; then continue; fi
    awk -v RS= -v archive="$archive" '{
      n = split($0, line, "\n"); deb = 0; debian = 0; off = 0
      for (i = 1; i <= n; i++) {
        if (line[i] ~ /^Types:/ && (" " substr(line[i], 7) " ") ~ /[ \t]deb[ \t]/) deb = 1
        if (line[i] ~ /^URIs:/ && line[i] ~ archive) debian = 1
        if (line[i] ~ /^Enabled:[ \t]*no/) off = 1
      }
      if (!deb || !debian || off) next
      for (i = 1; i <= n; i++) print(line[i] ~ /^Types:/ ? "Types: deb-src" : line[i])
      print ""
    }' "$file"
  done >"$found/sources"
  # One-line entries (sources.list, *.list).
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    if [ ! -f "$file" ] || [ "$file" = "$deb_src_file.list" ]; then continue; fi
    awk -v archive="$archive" '$1 == "deb" && $0 ~ archive { sub(/^deb/, "deb-src"); print }' "$file"
  done >"$found/list"
  for kind in sources list; do
    if [ -s "$found/$kind" ]; then
      echo "adding Debian's source packages to apt: $deb_src_file.$kind"
      "${as_root[@]}" install -m 644 "$found/$kind" "$deb_src_file.$kind"
    fi
  done
  rm -rf "$found"
fi

# Waits for a package lock that another apt holds, as install-deps.sh does.
apt=(apt-get -o DPkg::Lock::Timeout=600)
if [ ${#need[@]} -gt 0 ] || [ "$add_sources" = 1 ]; then
  "${as_root[@]}" "${apt[@]}" update -qq
fi
if [ ${#need[@]} -gt 0 ]; then
  echo "installing Debian packages: ${need[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    "${apt[@]}" install -y -qq --no-install-recommends "${need[@]}"
fi
if ! have_re2_source; then
  echo "$0: apt finds no source package re2: add a deb-src entry for Debian's archive" >&2
  exit 1
fi
