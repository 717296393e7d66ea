#!/usr/bin/env bash
# Smoke test of the whole road on the real program: the headless demo (scripts/demo.sh under
# its own Xvfb, driven with the pointer and the keyboard) must end with the demo game client
# started in the game folder with the command line of the first demo server.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd -P)
cd "$top"

# Headless even when this runs inside a desktop session.
env -u DISPLAY -u WAYLAND_DISPLAY bash scripts/demo.sh

version=$(sed -n 's/^project(zarn VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
expected="-Zone:电信一区 -Server:longcheng -IP:127.0.0.1 -Port:7001 -Version:$version -ID:12 -Agent:demo"
log=build/demo-run/Kelmar/game-client.log
got=$(sed -n 's/^args=//p' "$log" 2>/dev/null | tail -n 1)
if [ "$got" != "$expected" ]; then
  echo "demo smoke test: the game client got '$got', expected '$expected'" >&2
  exit 1
fi
[ "$(sed -n 's/^cwd=//p' "$log" | tail -n 1)" = "$top/build/demo-run/Kelmar" ] || {
  echo "demo smoke test: the game client did not start in the game folder" >&2
  exit 1
}
[ -s build/demo-run/screenshot-start.png ] || { echo "demo smoke test: no screenshot of the server list" >&2; exit 1; }
echo "demo smoke test: the game client started with: $got"
