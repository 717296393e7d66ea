#!/usr/bin/env bash
# The real launcher replaces itself: the version manifest announces another launcher version,
# the launcher downloads it into temp/, tells the player (OK pressed as a player would), hands
# over to the replacement script and ends; the script puts the new file over the old one, keeps
# it executable, starts it and deletes itself. The game folder has a blank in its name.
# The new launcher must prove itself first (a program of this machine that answers --version
# with the announced version); a file that cannot is refused and the old launcher stays.
# Arguments: the zarn program, the demo content service, the stand-in for the new launcher.
set -euo pipefail
set -m  # every background job in its own process group, so each can be ended with its children
zarn=$1
server=$2
newlauncher=$3
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

. "$here/real_launcher.sh"

# Content: the demo service's documents, with a manifest announcing another launcher whose file
# is a small program that answers --version and records that it was started, where, and with
# what.
content=$work/content
cp -r "$top/tools/demo-server/content" "$content"
cat > "$content/PCVersion/1033/version.xml.in" <<'JSON'
{
  "version": "1.0.0.2",
  "url": "{{BASE}}/launchers/zarn-1.0.0.2",
  "serverlist": "{{BASE}}/serverlist.xml",
  "website": "{{BASE}}/"
}
JSON
mkdir -p "$content/launchers"
cp "$newlauncher" "$content/launchers/zarn-1.0.0.2"

# First the announced launcher is an error page sent with status 200: it must be refused.
mv "$content/PCVersion/1033/version.xml.in" "$work/good-version.xml.in"
sed 's|/launchers/zarn-1.0.0.2|/launchers/broken|' "$work/good-version.xml.in" > "$content/PCVersion/1033/version.xml.in"
printf '<html><body><h1>502 Bad Gateway</h1></body></html>\n' > "$content/launchers/broken"

start_content_service "$server" "$content"

start_display

game="$work/Kelmar Game"
mkdir -p "$game"
# A name of its own ("zarn.<n>" starts like "zarn"): the launcher must not take it for another.
name=zarn.$$
cp "$zarn" "$game/$name"
printf '[GameSetup]\r\nHuaWeiCDN=1\r\n' > "$game/ClientConfig.cfg"

# The refused file: deleted, the failed-download prompt ("更新文件") instead of the restart
# message, and the old launcher untouched; Cancel ends it.
(cd "$game" && exec "./$name") > "$work/refused-launcher.log" 2>&1 &
launcher=$!
pids+=($launcher)
box=
for _ in $(seq 300); do
  box=$(xdotool search --onlyvisible --name '更新文件' 2>/dev/null | head -n 1 || true)
  [ -n "$box" ] && break
  sleep 0.1
done
[ -n "$box" ] || fail "the launcher did not refuse an error page as its new version"
[ -z "$(xdotool search --onlyvisible --name '更新提示' 2>/dev/null || true)" ] || fail "the refused file was about to replace the launcher"
[ ! -e "$game/temp/broken" ] || fail "the refused file was kept"
[ ! -e "$game/copy1597.sh" ] || fail "a replacement script was written for a refused file"
grep -q 'refused' "$work/refused-launcher.log" || fail "standard error does not say why the file was refused"
sleep 0.5
box=$(xdotool search --onlyvisible --name '更新文件' | head -n 1)
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Escape
for _ in $(seq 100); do kill -0 "$launcher" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$launcher" 2>/dev/null || fail "the launcher did not end on Cancel"
cmp -s "$zarn" "$game/$name" || fail "the refused file changed the launcher"

# Then the real new version is announced.
cp "$work/good-version.xml.in" "$content/PCVersion/1033/version.xml.in"
(cd "$game" && exec "./$name") > "$work/launcher.log" 2>&1 &
launcher=$!
pids+=($launcher)

# The player is told ("更新提示") and presses OK.
box=
for _ in $(seq 300); do
  box=$(xdotool search --onlyvisible --name '更新提示' 2>/dev/null | head -n 1 || true)
  [ -n "$box" ] && break
  sleep 0.1
done
[ -n "$box" ] || fail "the launcher never told the player about its update"
[ -f "$game/temp/zarn-1.0.0.2" ] || fail "the new launcher was not downloaded to temp/"
cmp -s "$content/launchers/zarn-1.0.0.2" "$game/temp/zarn-1.0.0.2" || fail "temp/zarn-1.0.0.2 is not the published file"
[ "$(grep -c 'GET /Interface/ClientLogonJson' "$work/server.log" || true)" -eq 0 ] ||
  fail "the launcher asked for the login information although it is replacing itself"
sleep 0.5
box=$(xdotool search --onlyvisible --name '更新提示' | head -n 1)
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return

for _ in $(seq 100); do kill -0 "$launcher" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$launcher" 2>/dev/null || fail "the old launcher did not end"
for _ in $(seq 100); do [ -s "$game/new-launcher.log" ] && break; sleep 0.1; done
[ -s "$game/new-launcher.log" ] || fail "the new launcher was not started"

cmp -s "$content/launchers/zarn-1.0.0.2" "$game/$name" || fail "$name is not the new launcher"
[ -x "$game/$name" ] || fail "the new $name is not executable"
[ ! -e "$game/zarn" ] || fail "the launcher copied itself to zarn although its name starts like zarn"
[ "$(wc -l < "$game/new-launcher.log")" -eq 1 ] || fail "the new launcher started more than once"
grep -q "^started in $(cd "$game" && pwd -P) with \[\]$" "$game/new-launcher.log" ||
  fail "the new launcher started as: $(cat "$game/new-launcher.log")"
for _ in $(seq 50); do [ -e "$game/copy1597.sh" ] || break; sleep 0.1; done
[ ! -e "$game/copy1597.sh" ] || fail "the replacement script was left behind"
[ ! -e "$game/$name.old" ] || fail "the old launcher was kept although the new one started"
echo "PASS: the launcher replaced itself with the announced version and started it"
