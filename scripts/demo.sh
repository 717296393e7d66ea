#!/usr/bin/env bash
# Installs what is missing, builds the launcher and runs it on its demo game folder, against the
# demo services on 127.0.0.1 (nginx as the content network, the demo server for the rest): select a server, press start, watch both bars; the demo
# game client starts and records its command line in the game folder's game-client.log.
# Without a display it runs everything under Xvfb and drives the road itself (scripts/demo-drive.sh),
# saves screenshots into build/demo-run/ and prints the game client's command line; the exit
# status tells whether the game client got the command line of the server chosen.
# ZARN_BUILD_DIR chooses the build folder (default build/main).
set -euo pipefail
set -m  # background jobs in their own process groups, so each is ended with its children
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/install-deps.sh
build=${ZARN_BUILD_DIR:-$top/build/main}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j"$(nproc)" zarn zarn-demo-server zarn-demo-game

demo=$top/build/demo-run
game=$demo/Kelmar
rm -rf "$demo"
mkdir -p "$game"
cp "$build/src/zarn" "$game/zarn"
cp "$build/tools/demo-game/RuzaDivuzo226.exe" "$game/RuzaDivuzo226.exe"
printf '[GameSetup]\r\nHuaWeiCDN=1\r\n[agent]\r\n1033=demo\r\n' > "$game/ClientConfig.cfg"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -- "-$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# The account and web services are the demo server's; the content network (manifests,
# packages, server data) is nginx serving the tree the demo server writes out, as a real
# content network serves it (ranges, validators, kept-alive connections). The packages are
# small; sent at 2 KiB/s the update lasts a few seconds, long enough to watch.
port=$(free_port)
"$build/tools/demo-server/zarn-demo-server" --port "$port" --content "$top/tools/demo-server/content" \
  --export-tree "$demo/cdn" > "$demo/demo-server.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done
[ -f "$demo/cdn/public/update.xml" ] || { echo "the demo server wrote no content tree; see $demo/demo-server.log" >&2; exit 1; }

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
cdn_port=$(free_port)
mkdir -p "$demo/nginx"
cat > "$demo/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $demo/nginx/nginx.pid;
error_log $demo/nginx/error.log;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log $demo/nginx/access.log;
  client_body_temp_path $demo/nginx/body;
  proxy_temp_path $demo/nginx/proxy;
  fastcgi_temp_path $demo/nginx/fastcgi;
  uwsgi_temp_path $demo/nginx/uwsgi;
  scgi_temp_path $demo/nginx/scgi;
  server {
    listen 127.0.0.1:$cdn_port;
    root $demo/cdn;
    limit_rate 2k;
  }
}
CONF
"$nginx_bin" -p "$demo/nginx/" -c "$demo/nginx/nginx.conf" -e "$demo/nginx/error.log" > /dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$cdn_port/public/update.xml" && break; sleep 0.1; done
export ZARN_CDN_BASE_URL="http://127.0.0.1:$cdn_port/"
export ZARN_STORAGE_BASE_URL="http://127.0.0.1:$cdn_port/"
export ZARN_ACCOUNT_URL="http://127.0.0.1:$port"
export ZARN_WEB_URL="http://127.0.0.1:$port"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
echo "demo content network (nginx) on http://127.0.0.1:$cdn_port/ (log: $demo/nginx/access.log)"
echo "demo account and web service on http://127.0.0.1:$port/ (log: $demo/demo-server.log)"

cd "$game"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  ./zarn || true
  if [ -e "$game/game-client.log" ]; then
    echo "game client command line: $(sed -n 's/^args=//p' "$game/game-client.log" | tail -n 1)"
  fi
  exit 0
fi

# No display: a virtual one, and the road driven as a player would.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3> "$demo/display" > "$demo/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$demo/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$demo/display")

./zarn > "$demo/launcher.log" 2>&1 &
launcher=$!
pids+=($launcher)
status=0
bash "$top/scripts/demo-drive.sh" "$demo" "$launcher" || status=$?
if [ "$status" -ne 0 ]; then
  echo "demo road failed; logs in $demo" >&2
fi
exit "$status"
