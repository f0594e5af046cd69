#!/usr/bin/env bash
# Times tangler-site --external beside the link checkers linkinator,
# LinkChecker, html-proofer and hyperlink on one generated site whose
# external links all lead to a loopback server, and checks what each asked
# of the server and what each reported against what was planted.
#
#   bench/external_links.sh [TANGLER_SITE]
#
# TANGLER_SITE (argument or environment) is the binary to time; without it a
# release build of the target tangler-site is made in build-bench/. "none",
# a failed build or a binary without --external times only the peers.
#
# Environment (defaults in brackets):
#   WORK        where the site, the outputs and the server's counts go
#               [/tmp/tangler-site-extbench]
#   TOOLS       which to run, in this order
#               ["tangler-site polite linkinator linkchecker htmlproofer hyperlink"];
#               polite is polite_client.py, a yardstick: the plainest client
#               that keeps tangler-site's politeness rules
#   CAP         wall-time cap of one tool, seconds; a tool still running then
#               is killed and recorded as timed out [900]
#   PEER_PREFIX npm prefix of linkinator 6.3.0 (7.x needs Node 20;
#               Debian 12 has 18) and hyperlink 5.0.4, installed
#               there when missing [/work/npm-peers]
#   PAGES URLS HOSTS MENTIONS  the site [2000 10000 50 5]
#   DELAY       milliseconds the server holds every answer [5]
#
# LinkChecker (Debian linkchecker) and html-proofer (Debian
# ruby-html-proofer) are installed with apt-get when missing. The server
# (external_server.py) listens on 127.0.20.1 to 127.0.20.HOSTS, all on one
# port that is free on each, and the pages name those addresses, so no
# checker asks a resolver and nothing leaves the loopback network. Each tool
# gets a fresh server (its counts and its one-time 429s anew), runs alone,
# under nice, with peak memory from /usr/bin/time -v. The Markdown table goes
# to stdout; WORK keeps every tool's output, its error stream and the
# server's counts (TOOL.out, TOOL.err, TOOL.stats.json).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${WORK:-/tmp/tangler-site-extbench}
tools=${TOOLS-"tangler-site polite linkinator linkchecker htmlproofer hyperlink"}
cap=${CAP:-900}
peer_prefix=${PEER_PREFIX:-/work/npm-peers}
pages=${PAGES:-2000}
urls=${URLS:-10000}
hosts=${HOSTS:-50}
mentions=${MENTIONS:-5}
delay=${DELAY:-5}
ts=${1:-${TANGLER_SITE:-}}

# No checker may reach for a proxy: everything it asks for is on loopback.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy='*' NO_PROXY='*'

mkdir -p "$work"
chmod 755 "$work" # LinkChecker run as root reads the site as "nobody"

if [ -z "$ts" ] && [[ " $tools " == *" tangler-site "* ]]; then
  cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTANGLER_TESTS=OFF >/dev/null
  if cmake --build "$root/build-bench" --target tangler-site >&2; then
    ts="$root/build-bench/tangler-site"
  else
    echo "external_links.sh: tangler-site did not build; timing the peers only" >&2
    ts=none
  fi
fi
ts_note=""
if [[ " $tools " != *" tangler-site "* ]]; then
  ts=
  ts_note="not run"
elif [ "$ts" = none ] || [ -z "$ts" ]; then
  ts=
  ts_note="not built"
else
  ts=$(realpath "$ts")
  if ! "$ts" --help 2>&1 | grep -q -- '--external'; then
    ts_note="has no --external option"
  fi
fi

for t in $tools; do
  case $t in
    linkinator | hyperlink)
      version=$([ "$t" = linkinator ] && echo 6.3.0 || echo 5.0.4)
      [ -x "$peer_prefix/node_modules/.bin/$t" ] ||
        npm install --prefix "$peer_prefix" --no-audit --no-fund "$t@$version" >&2
      ;;
    linkchecker)
      command -v linkchecker >/dev/null ||
        apt-get -o DPkg::Lock::Timeout=900 install -y linkchecker >&2
      ;;
    htmlproofer)
      command -v htmlproofer >/dev/null ||
        apt-get -o DPkg::Lock::Timeout=900 install -y ruby-html-proofer >&2
      ;;
    tangler-site | polite) ;;
    *)
      echo "external_links.sh: unknown tool $t" >&2
      exit 2
      ;;
  esac
done

# A port that is free on every address (the last run's, PORT, when it still
# is), then the site naming it. A site made with the same parameters and port
# is kept, with the results of the tools run on it before, so that one tool
# can be run again (TOOLS=tangler-site) and the table still shows them all.
port=$(python3 - "$hosts" "$(cat "$work/site.params" 2>/dev/null | cut -d' ' -f1)" <<'EOF'
import socket, sys
hosts = ["127.0.20.%d" % (h + 1) for h in range(int(sys.argv[1]))]
last = int(sys.argv[2]) if sys.argv[2].isdigit() else 0
for attempt in range(50):
    if attempt == 0 and last:
        port = last
    else:
        probe = socket.socket()
        probe.bind(("127.0.20.1", 0))
        port = probe.getsockname()[1]
        probe.close()
    socks = []
    try:
        for host in hosts:
            s = socket.socket()
            s.bind((host, port))
            socks.append(s)
    except OSError:
        continue
    finally:
        for s in socks:
            s.close()
    print(port)
    break
else:
    sys.exit("no port free on every address")
EOF
)
params="$port $pages $urls $hosts $mentions $delay 1"
if [ "$(cat "$work/site.params" 2>/dev/null)" != "$params" ]; then
  rm -rf "$work/site" "$work/site.params" "$work"/*.run
  python3 "$root/bench/generate_external_site.py" "$work" --port "$port" --pages "$pages" \
    --urls "$urls" --hosts "$hosts" --mentions "$mentions" --seed 1
  chmod -R a+rX "$work/site"
  echo "$params" >"$work/site.params"
fi
(cd "$work/site" && find . -type f -print0 | xargs -0 cat >/dev/null)

server_pid=
stop_server() {
  [ -n "$server_pid" ] || return 0
  kill -TERM "$server_pid" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=
}
trap stop_server EXIT

# One tool's run against a fresh server: TOOL.out, TOOL.err, TOOL.time (time
# -v), TOOL.stats.json, and TOOL.run ("STATUS WALL-SECONDS"; status 124 is a
# timeout).
run_tool() {
  local name=$1 dir=$2
  shift 2
  rm -f "$work/ready" "$work/$name".{out,err,time,stats.json,run,load}
  python3 "$root/bench/external_server.py" --plan "$work/plan.json" --stats "$work/$name.stats.json" \
    --ready "$work/ready" --delay "$delay" --lifetime $((cap + 300)) </dev/null &
  server_pid=$!
  for _ in $(seq 100); do
    [ -f "$work/ready" ] && break
    sleep 0.1
  done
  [ -f "$work/ready" ] || { echo "external_links.sh: the server did not start" >&2; exit 1; }
  echo "$name ..." >&2
  cut -d' ' -f1 /proc/loadavg >"$work/$name.load" # the other tenants of a shared machine
  local start end status=0
  start=$EPOCHREALTIME
  (cd "$dir" && /usr/bin/time -v -o "$work/$name.time" timeout -k 10 "$cap" nice -n 10 "$@" \
    >"$work/$name.out" 2>"$work/$name.err") || status=$?
  end=$EPOCHREALTIME
  stop_server
  echo "$status $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')" >"$work/$name.run"
  echo "$name: status $status, $(cut -d' ' -f2 "$work/$name.run") s" >&2
}

bin=$peer_prefix/node_modules/.bin
# The first line of a --version that names no warning.
version_of() {
  local name=$1
  shift
  (cd "$work" && "$@" --version 2>&1 | grep -v -i warning | head -n 1 |
    grep -o -E '[0-9]+(\.[0-9]+)+' | head -n 1) >"$work/$name.version" || true
}
for t in $tools; do
  case $t in
    tangler-site)
      if [ -n "$ts_note" ]; then
        rm -f "$work/tangler-site.run" # no older run's row beside the peers of this one
        continue
      fi
      version_of tangler-site "$ts"
      run_tool tangler-site "$work/site" "$ts" --external --format=json
      ;;
    linkinator)
      version_of linkinator "$bin/linkinator"
      run_tool linkinator "$work" "$bin/linkinator" site --recurse --format json
      ;;
    linkchecker)
      version_of linkchecker linkchecker
      run_tool linkchecker "$work" linkchecker --check-extern --no-status -o csv site/index.html
      ;;
    htmlproofer)
      version_of htmlproofer htmlproofer
      run_tool htmlproofer "$work" htmlproofer site
      ;;
    polite)
      python3 --version | grep -o -E '[0-9.]+' >"$work/polite.version"
      run_tool polite "$work" python3 "$root/bench/polite_client.py" site
      ;;
    hyperlink)
      version_of hyperlink "$bin/hyperlink"
      run_tool hyperlink "$work" "$bin/hyperlink" --root site -r site/index.html
      ;;
  esac
done

python3 "$root/bench/external_report.py" "$work" \
  --tools "tangler-site polite linkinator linkchecker htmlproofer hyperlink" --tangler-site-note "$ts_note" \
  --delay "$delay" \
  --command "bench/external_links.sh"
