#!/usr/bin/env bash
# Builds tangler and tangler-site (release), then runs tangler in a site
# directory, or with --site first, tangler-site from here:
#   scripts/build-and-run.sh SITE_DIR [options and patterns...]
#   scripts/build-and-run.sh --site [tangler-site options...] [ROOT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
site=${1:?usage: scripts/build-and-run.sh SITE_DIR [options and patterns...] | --site [options...] [ROOT]}
shift
"$root/scripts/install-deps.sh" >&2
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTANGLER_TESTS=OFF >/dev/null
cmake --build "$root/build-release" --target tangler tangler-site >&2
if [ "$site" = "--site" ]; then
  exec "$root/build-release/tangler-site" "$@"
fi
cd "$site"
exec "$root/build-release/tangler" "$@"
