#!/usr/bin/env bash
# Installs what is missing, builds the launcher and runs it on its demo game folder, against the
# demo content service on 127.0.0.1. Without a display it runs everything under Xvfb, saves
# screenshots and prints where they are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/install-deps.sh
bash scripts/build.sh

build=$top/build/main
demo=$top/build/demo-run
game=$demo/Kelmar
rm -rf "$demo"
mkdir -p "$game"
cp "$build/src/zarn" "$game/zarn"
printf '[GameSetup]\r\nHuaWeiCDN=1\r\n[agent]\r\n1033=demo\r\n' > "$game/ClientConfig.cfg"
if [ -x "$build/tools/demo-game/RuzaDivuzo226.exe" ]; then
  cp "$build/tools/demo-game/RuzaDivuzo226.exe" "$game/RuzaDivuzo226.exe"
fi

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

server=$build/tools/demo-server/zarn-demo-server
if [ -x "$server" ]; then
  port=$(free_port)
  "$server" --port "$port" --content "$top/tools/demo-server/content" > "$demo/demo-server.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done
  export ZARN_CDN_BASE_URL="http://127.0.0.1:$port/"
  export ZARN_STORAGE_BASE_URL="http://127.0.0.1:$port/"
  export ZARN_ACCOUNT_URL="http://127.0.0.1:$port"
  export ZARN_WEB_URL="http://127.0.0.1:$port"
  echo "demo content service on http://127.0.0.1:$port/ (log: $demo/demo-server.log)"
fi

cd "$game"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  ./zarn
  exit 0
fi

# No display: a virtual one, and the road driven as a player would.
display=:$(( (RANDOM % 400) + 100 ))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp > "$demo/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

./zarn > "$demo/launcher.log" 2>&1 &
launcher=$!
pids+=($launcher)
for _ in $(seq 100); do xdotool search --name 'Kelmar' >/dev/null 2>&1 && break; sleep 0.1; done
bash "$top/scripts/demo-drive.sh" "$demo" "$launcher"
