#!/usr/bin/env bash
# Drives the launcher on an X display as a player would: click the first server in the tree,
# press Enter. No switch inside the launcher is involved; only the pointer and the keyboard.
#
#   demo-drive.sh <demo folder> <launcher pid>
#       the headless demo (scripts/demo.sh): waits for the server list, saves
#       screenshot-start.png (filled tree), starts the first server, saves screenshot-update.png
#       while the update runs, waits for the demo game client and checks that it got the
#       command line of that server. Exit status 0 only when it did.
#   demo-drive.sh --select-first-server <launcher pid>
#       only the click and the Enter key (the launcher must show its server list).
set -uo pipefail

# The launcher's frame: "X Y" of its top-left corner on the screen.
frame_origin() {
  local pid=$1 win="" geometry
  for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | tail -n 1)
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || return 1
  geometry=$(xdotool getwindowgeometry "$win") || return 1
  echo "$geometry" | sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p'
}

# The tree lies at (519, 279) of the frame's picture (layout "list_server"); its first row is
# the first zone, open, with its first server right below it.
select_first_server() {
  local pid=$1 origin x y
  origin=$(frame_origin "$pid") || { echo "no launcher window" >&2; return 1; }
  read -r x y <<< "$origin"
  xdotool mousemove $((x + 519 + 60)) $((y + 279 + 8)) click 1 || return 1
  sleep 0.3
  xdotool key Down || return 1
  sleep 0.3
  xdotool key Return
}

if [ "${1:-}" = "--select-first-server" ]; then
  select_first_server "$2"
  exit $?
fi

demo=$1
launcher=$2
game=$demo/Kelmar
serverlog=$demo/demo-server.log

# The server list has arrived: the tree fills right after.
for _ in $(seq 300); do
  grep -q 'GET /serverlist.xml 200' "$serverlog" 2>/dev/null && break
  sleep 0.1
done
if ! grep -q 'GET /serverlist.xml 200' "$serverlog" 2>/dev/null; then
  echo "the launcher did not fetch the server list" >&2
  exit 1
fi
sleep 2  # the tree, and the start page in the web panel
import -window root "$demo/screenshot-start.png"
echo "screenshot: $demo/screenshot-start.png"

# What the game client must receive for the first server shown, from the list as served.
base=$(sed -n 's/.*listening on \(http:[^ ]*\)\/ .*/\1/p' "$serverlog" | head -n 1)
expected=$(curl -s "$base/serverlist.xml" | python3 -c '
import sys, xml.etree.ElementTree as ET
def num(t):
    t = (t or "").lstrip(); sign = 1
    if t and t[0] in "+-":
        sign = -1 if t[0] == "-" else 1
        t = t[1:]
    d = ""
    for c in t:
        if not c.isdigit(): break
        d += c
    return sign * int(d) if d else 0
agent = sys.argv[1]
root = ET.parse(sys.stdin).getroot()
for zone in root:
    if num(zone.get("hide")): continue
    for server in zone:
        if num(server.get("hide")): continue
        sid = server.get("id", "")
        print("-Zone:%s -Server:%s -IP:%s -Port:%s -Version:%s -ID:%s -Agent:%s" % (
            zone.get("realname", "").strip(), server.get("name", ""), server.get("ip", ""),
            server.get("port", ""), zone.get("version", ""), sid if num(sid) >= 1 else "(null)", agent))
        sys.exit(0)
' "$(tr -d '\r' < "$game/ClientConfig.cfg" | sed -n 's/^1033=//p')")

if ! select_first_server "$launcher"; then
  echo "could not drive the launcher" >&2
  exit 1
fi

# Mid-update: the packages are on their way (nginx, the content network, logs each one as it
# is done: the first, small one is in).
for _ in $(seq 200); do
  grep -q 'GET /public/zip/' "$demo/nginx/access.log" 2>/dev/null && break
  sleep 0.05
done
sleep 0.6
if [ ! -e "$game/game-client.log" ]; then
  import -window root "$demo/screenshot-update.png"
  echo "screenshot: $demo/screenshot-update.png"
fi

for _ in $(seq 600); do
  grep -q '^end$' "$game/game-client.log" 2>/dev/null && break
  sleep 0.1
done
if ! grep -q '^end$' "$game/game-client.log" 2>/dev/null; then
  echo "the game client did not start" >&2
  exit 1
fi
got=$(sed -n 's/^args=//p' "$game/game-client.log" | tail -n 1)
echo "game client started in $(sed -n 's/^cwd=//p' "$game/game-client.log" | tail -n 1)"
echo "game client command line: $got"
if [ "$got" != "$expected" ]; then
  echo "expected command line:    $expected" >&2
  exit 1
fi
# Ended: gone, or a zombie waiting for demo.sh.
running() { case "$(ps -o stat= -p "$launcher" 2>/dev/null)" in "" | Z*) return 1 ;; *) return 0 ;; esac; }
for _ in $(seq 100); do running || break; sleep 0.1; done
if running; then
  echo "the launcher did not end after starting the game" >&2
  exit 1
fi
echo "the launcher ended after starting the game"
