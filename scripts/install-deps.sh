#!/usr/bin/env bash
# Installs what building and testing tangler needs, when it is missing.
# Debian packages only; safe to run again.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
for tool in "$@"; do
  case "$tool" in
    clang) command -v clang++ >/dev/null || need+=(clang) ;;
    *) command -v "$tool" >/dev/null || need+=("$tool") ;;
  esac
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi
