#!/usr/bin/env bash
# Installs what building tangler.exe and testing it under Wine needs, when it
# is missing: the MinGW-w64 cross compilers (32- and 64-bit), 64-bit Wine, and
# the GoogleTest sources (built for Windows from /usr/src/googletest).
# Debian packages only; safe to run again.
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
if [ ${#need[@]} -gt 0 ]; then
  echo "installing Debian packages: ${need[*]}"
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
