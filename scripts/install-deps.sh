#!/usr/bin/env bash
# Installs what building and testing tangler needs, when it is missing.
# Debian packages only; safe to run again. Run as another user than root, it
# installs through sudo.
set -euo pipefail
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

need=()
want_sarif_schema=0
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
# tangler-site's header-only libraries: the command line and JSON.
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
# The --ignore patterns' matcher.
[ -f /usr/include/re2/re2.h ] || need+=(libre2-dev)
# The external-link check's HTTP client; its tests run a server in Python
# whose certificate openssl makes.
command -v curl-config >/dev/null || need+=(libcurl4-openssl-dev)
command -v openssl >/dev/null || need+=(openssl)
[ -x /usr/bin/python3 ] || need+=(python3)
for tool in "$@"; do
  case "$tool" in
    clang) command -v clang++ >/dev/null || need+=(clang) ;;
    # The sanitizer and libFuzzer run-time libraries of clang 14.
    clang-rt) compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a' >/dev/null ||
      need+=(libclang-rt-14-dev) ;;
    # The install and package tests: man -l and groff read the manual page,
    # CPack's Debian generator reads the binary's library needs with
    # dpkg-shlibdeps and file.
    man) command -v man >/dev/null || need+=(man-db) ;;
    groff) command -v groff >/dev/null || need+=(groff-base) ;;
    dpkg-shlibdeps) command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev) ;;
    # The benchmark's corpus of real pages.
    vim-doc) [ -d /usr/share/doc/vim/html ] || need+=(vim-doc) ;;
    # tangler-site's report tests validate SARIF against the SARIF 2.1.0
    # schema (from npm, below) with Debian's Python, URI formats included.
    sarif-schema)
      /usr/bin/python3 -c 'import jsonschema' 2>/dev/null || need+=(python3-jsonschema)
      /usr/bin/python3 -c 'import rfc3987' 2>/dev/null || need+=(python3-rfc3987)
      command -v npm >/dev/null || need+=(npm)
      want_sarif_schema=1
      ;;
    *) command -v "$tool" >/dev/null || need+=("$tool") ;;
  esac
done
# Another apt or dpkg (an unattended upgrade, a second build) may hold the
# package lock for a while: wait up to ten minutes for it instead of failing.
apt=(apt-get -o DPkg::Lock::Timeout=600)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing Debian packages: ${need[*]}"
  "${as_root[@]}" "${apt[@]}" update -qq
  "${as_root[@]}" "${apt[@]}" install -y -qq "${need[@]}"
fi
# The schema as Microsoft's SARIF SDK ships it, in an npm package of that SDK
# (MIT); the tests read it where npm installs global packages.
if [ "$want_sarif_schema" = 1 ] &&
  [ ! -f "$(npm root -g)/@microsoft/jest-sarif/lib/schemas/sarif-2.1.0-rtm.5.json" ]; then
  echo "installing: @microsoft/jest-sarif (npm)"
  npm install -g --no-fund --no-audit --loglevel=error @microsoft/jest-sarif@1.0.0-beta.0
fi
