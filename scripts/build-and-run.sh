#!/usr/bin/env bash
# Builds tangler (release) and runs it in a site directory:
#   scripts/build-and-run.sh SITE_DIR [options and patterns...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
site=${1:?usage: scripts/build-and-run.sh SITE_DIR [options and patterns...]}
shift
"$root/scripts/install-deps.sh" >&2
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTANGLER_TESTS=OFF >/dev/null
cmake --build "$root/build-release" --target tangler >&2
cd "$site"
exec "$root/build-release/tangler" "$@"
