# Shared ground of the tests that run the real launcher: a work folder removed at the end with
# every process started here, a failure that shows the logs, the demo content service on a free
# port with the launcher's addresses pointed at it, and a virtual display of the test's own.
# Sourced by the test scripts (bash, set -euo pipefail and set -m already on).

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -- "-$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do
    echo "--- $log" >&2
    tail -n 30 "$log" >&2
  done
  exit 1
}

# start_content_service <demo server program> <content folder>: sets $port.
start_content_service() {
  mkdir -p "$work/tmp"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  TMPDIR=$work/tmp "$1" --port "$port" --content "$2" > "$work/server.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done
  export ZARN_CDN_BASE_URL="http://127.0.0.1:$port/" ZARN_STORAGE_BASE_URL="http://127.0.0.1:$port/"
  export ZARN_ACCOUNT_URL="http://127.0.0.1:$port" ZARN_WEB_URL="http://127.0.0.1:$port"
  export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
  mkdir -p "$HOME"
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
}

# A display of its own: on a shared one another test's window could take the clicks and keys.
# Its number is drawn at random rather than the lowest free one: an Xvfb of another test that
# just ended on that number may remove the new one's socket while it shuts down.
start_display() {
  local attempt n xvfb
  for attempt in $(seq 20); do
    n=$((300 + RANDOM % 600))
    [ -e "/tmp/.X$n-lock" ] && continue
    : > "$work/display"
    Xvfb ":$n" -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3> "$work/display" > "$work/xvfb.log" 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
      [ -s "$work/display" ] && break
      kill -0 "$xvfb" 2>/dev/null || break
      sleep 0.1
    done
    if [ -s "$work/display" ]; then
      pids+=($xvfb)
      export DISPLAY=:$(head -n 1 "$work/display")
      return
    fi
    kill "$xvfb" 2>/dev/null || true
  done
  fail "Xvfb did not start"
}
