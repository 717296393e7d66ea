#!/usr/bin/env bash
# The real launcher, killed with SIGKILL while it unpacks a package and started again, brings
# the game folder to the complete published state: the package manifest was not committed, so
# the unfinished package is chosen again, while the one before it, recorded in the round's
# journal, is not fetched again; every file ends as published. The launcher is driven as a player drives it (xdotool: the first server, Enter).
# Arguments: the zarn program, the demo content service, the demo game client.
set -euo pipefail
set -m  # every background job in its own process group, so each can be ended with its children
zarn=$1
server=$2
gameclient=$3
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)

. "$here/real_launcher.sh"

# Content: the demo service's start-up documents and server list, and three packages of our
# own; the middle one holds enough files that unpacking takes seconds (1 ms rest per file).
content=$work/content
cp -r "$top/tools/demo-server/content" "$content"
rm -rf "$content/public"
mkdir -p "$content/public/zip/a.zip/data" "$content/public/zip/c.zip/bin"
echo "package a" > "$content/public/zip/a.zip/data/a.txt"
echo "package c" > "$content/public/zip/c.zip/bin/c.txt"
files=3000
python3 - "$content/public/zip/big.zip" "$files" <<'EOF'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    folder = os.path.join(root, "big", "d%02d" % (i % 30))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%04d.dat" % i), "w") as f:
        f.write(("file %d " % i) * (1 + i % 50) + "\n")
EOF
cat > "$content/public/update.xml" <<'EOF'
<update>
  <file key="a.zip" md5="a1"/>
  <file key="big.zip" md5="big1"/>
  <file key="c.zip" md5="c1"/>
</update>
EOF

start_content_service "$server" "$content"

start_display

game="$work/Kelmar Game"  # a blank in the folder name on the way
mkdir -p "$game"
cp "$zarn" "$game/zarn"
cp "$gameclient" "$game/RuzaDivuzo226.exe"
# One package at a time: with several, a package downloaded ahead but not yet unpacked when the
# launcher is killed is fetched again, and the count of c.zip below would not hold.
printf '[GameSetup]\r\nHuaWeiCDN=1\r\n[agent]\r\n1033=K9\r\n[Launcher]\r\nDownloads=1\r\n' > "$game/ClientConfig.cfg"

requests() { grep -c "GET $1 200" "$work/server.log" || true; }

# Starts the launcher in the game folder and presses start on the first server once the list
# is in the tree. The launcher's process id is in $launcher.
start_and_drive() {
  local lists_before
  lists_before=$(requests /serverlist.xml)
  (cd "$game" && exec ./zarn) >> "$work/launcher.log" 2>&1 &
  launcher=$!
  pids+=($launcher)
  for _ in $(seq 300); do
    [ "$(requests /serverlist.xml)" -gt "$lists_before" ] && break
    sleep 0.1
  done
  [ "$(requests /serverlist.xml)" -gt "$lists_before" ] || fail "the launcher never fetched the server list"
  sleep 1  # the tree fills right after
  bash "$top/scripts/demo-drive.sh" --select-first-server "$launcher" || fail "could not press start"
}

# First run: killed while the big package is being unpacked.
start_and_drive
killed=0
for _ in $(seq 600); do
  n=$( (find "$game/big" -type f 2>/dev/null || true) | wc -l)
  if [ "$n" -gt 100 ] && [ "$n" -lt "$files" ]; then
    kill -9 "$launcher"
    killed=$n
    break
  fi
  sleep 0.02
done
[ "$killed" -gt 0 ] || fail "the launcher was not caught unpacking big.zip"
kill -9 -- "-$launcher" 2>/dev/null || true
wait "$launcher" 2>/dev/null || true
echo "launcher killed with $killed of $files files of big.zip unpacked"
[ ! -e "$game/update.xml" ] || fail "update.xml was committed before every package was unpacked"
[ -e "$game/download/big.zip" ] || fail "the unfinished archive is gone"
grep -qx 'package a.zip a1' "$game/update.journal" || fail "the journal does not record a.zip"
! grep -q 'big.zip' "$game/update.journal" || fail "the journal records the unfinished big.zip"
[ ! -e "$game/game-client.log" ] || fail "the game started although the update was killed"

# Second run: the update runs again from the installed manifest and finishes.
start_and_drive
for _ in $(seq 600); do
  grep -q '^end$' "$game/game-client.log" 2>/dev/null && break
  sleep 0.1
done
grep -q '^end$' "$game/game-client.log" 2>/dev/null || fail "the game client did not start after the second run"

[ "$(requests /public/zip/big.zip)" -eq 2 ] || fail "big.zip was not chosen again"
[ "$(requests /public/zip/a.zip)" -eq 1 ] || fail "a.zip was fetched again although the journal had it"
[ ! -e "$game/update.journal" ] || fail "the journal outlived the commit"
[ "$(requests /public/zip/c.zip)" -eq 1 ] || fail "c.zip was fetched $(requests /public/zip/c.zip) times"
# The manifest as the service publishes it (it announces the per-file lists it made).
curl -s -o "$work/published.xml" "http://127.0.0.1:$port/public/update.xml"
cmp -s "$work/published.xml" "$game/update.xml" || fail "update.xml is not the published manifest"
[ ! -e "$game/update.down" ] || fail "update.down was left beside update.xml"
for package in a.zip big.zip c.zip; do
  (cd "$content/public/zip/$package" && find . -type f) | while read -r f; do
    cmp -s "$content/public/zip/$package/$f" "$game/$f" || { echo "differs: $f"; exit 1; }
  done || fail "the files of $package are not as published"
  [ ! -e "$game/download/$package" ] || fail "download/$package was left behind"
done
[ "$(find "$game/big" -type f | wc -l)" -eq "$files" ] || fail "big/ does not hold exactly $files files"
cmp -s <(printf 'srv12-data-2') "$game/Custom/12/12.data" || fail "server 12's data list was not installed"
args=$(grep '^args=' "$game/game-client.log" | tail -n 1)
version=$(curl -s "http://127.0.0.1:$port/PCVersion/1033/version.xml" | python3 -c 'import json,sys; print(json.load(sys.stdin)["version"])')
expected="args=-Zone:电信一区 -Server:longcheng -IP:127.0.0.1 -Port:7001 -Version:$version -ID:12 -Agent:K9"
[ "$args" = "$expected" ] || fail "game client got '$args', expected '$expected'"
[ "$(sed -n 's/^cwd=//p' "$game/game-client.log")" = "$(cd "$game" && pwd -P)" ] ||
  fail "the game client did not start in the game folder"
[ "$(grep -c '^end$' "$game/game-client.log")" -eq 1 ] || fail "the game client started more than once"
echo "PASS: after the kill the second run completed the game folder and started the game"
