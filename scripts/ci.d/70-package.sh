#!/usr/bin/env bash
# The Debian package: builds it from the main build, installs it on this machine (dpkg -i, then
# apt-get for missing dependencies), and starts the launcher from it on a virtual display as a
# new player would: the install page appears, installing puts a game folder into the player's
# home and starts the launcher there, the package's own files stay, and the next start runs the
# player's launcher. Then the package is removed again.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${ZARN_PACKAGE_BUILD:-$top/build/main}
out=$build/package
work=$(mktemp -d /tmp/kelmar-package.XXXXXX)

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

pids=()
installed_by_us=
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "$installed_by_us" ]; then $SUDO dpkg -r kelmar >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "package: $*" >&2
  exit 1
}

echo "-- building the package"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/kelmar_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6webenginewidgets6 libqt6webenginecore6-bin libqt6webengine6-data qt6-qpa-plugins \
  'fonts-wqy-zenhei | fonts-noto-cjk' libcurl4 libtinyxml2 libminizip1; do
  case "$depends" in *"$need"*) ;; *) fail "Depends lacks $need: $depends" ;; esac
done
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/zarn ./usr/lib/kelmar/zarn ./usr/lib/kelmar/zarn.packaged \
  ./usr/share/applications/kelmar.desktop ./usr/share/icons/hicolor/64x64/apps/kelmar.png; do
  grep -q " $path\$" <<<"$contents" || fail "$path missing from the package"
done

echo "-- installing $(basename "$deb")"
if dpkg-query -W -f='${Status}' kelmar 2>/dev/null | grep -q 'install ok installed'; then
  fail "a kelmar package is installed already; not touching it"
fi
installed_by_us=1
if ! $SUDO dpkg -i "$deb"; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -f -y -q --no-install-recommends
fi
dpkg-query -W -f='${Status}' kelmar | grep -q 'install ok installed' || fail "the package did not install"
[ "$(command -v zarn)" = /usr/bin/zarn ] || fail "zarn is not /usr/bin/zarn on PATH"

# A new player: an empty home, the demo content service as the site when it was built.
export HOME=$work/home
mkdir -p "$HOME"
unset XDG_CONFIG_HOME
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
server=$build/tools/demo-server/zarn-demo-server
if [ -x "$server" ]; then
  port=$(free_port)
  "$server" --port "$port" --content "$top/tools/demo-server/content" >"$work/demo-server.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done
  export ZARN_CDN_BASE_URL="http://127.0.0.1:$port/" ZARN_STORAGE_BASE_URL="http://127.0.0.1:$port/"
  export ZARN_ACCOUNT_URL="http://127.0.0.1:$port" ZARN_WEB_URL="http://127.0.0.1:$port"
fi

display=:$(((RANDOM % 400) + 500))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# The launcher's main window (title "Kelmar登陆器") of the process with that id.
window_of() {
  local w
  for _ in $(seq 200); do
    for w in $(xdotool search --onlyvisible --name 'Kelmar' 2>/dev/null); do
      [ "$(xdotool getwindowpid "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
    done
    sleep 0.1
  done
  return 1
}
# The process of the launcher whose window shows up next (any but those given).
next_launcher() {
  local w p
  for _ in $(seq 300); do
    for w in $(xdotool search --onlyvisible --name 'Kelmar' 2>/dev/null); do
      p=$(xdotool getwindowpid "$w" 2>/dev/null) || continue
      case " $* " in *" $p "*) ;; *) echo "$p"; return 0 ;; esac
    done
    sleep 0.1
  done
  return 1
}

echo "-- first start: the install page of the packaged launcher"
(cd / && exec zarn) >"$work/first.log" 2>&1 &
first=$!
pids+=($first)
window=$(window_of "$first") || fail "no launcher window appeared (log: $(cat "$work/first.log"))"
[ "$(readlink "/proc/$first/exe")" = /usr/lib/kelmar/zarn ] || fail "the first start did not run the packaged launcher"
sleep 2
# The install button ("btn_setup_auto" {780,480}, 120 x 34) of the install page.
xdotool mousemove --window "$window" 840 497 click 1
for _ in $(seq 100); do [ -f "$HOME/Kelmar/ClientConfig.cfg" ] && break; sleep 0.1; done
[ -x "$HOME/Kelmar/zarn" ] || fail "installing made no $HOME/Kelmar/zarn"
grep -q '^HuaWeiCDN=1' "$HOME/Kelmar/ClientConfig.cfg" || fail "no HuaWeiCDN=1 in the new ClientConfig.cfg"
for _ in $(seq 100); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
kill -0 "$first" 2>/dev/null && fail "the packaged launcher did not end after installing"
[ -x /usr/lib/kelmar/zarn ] || fail "installing deleted the packaged launcher"
dpkg -V kelmar || fail "the package's files changed"

installed=$(next_launcher "$first") || fail "the installed launcher did not start"
pids+=($installed)
[ "$(readlink "/proc/$installed/exe")" = "$HOME/Kelmar/zarn" ] || fail "the launcher started after installing is not the game folder's"
kill "$installed"

echo "-- second start: the player's own launcher"
(cd / && exec zarn) >"$work/second.log" 2>&1 &
second=$!
pids+=($second)
window_of "$second" >/dev/null || fail "no window on the second start"
[ "$(readlink "/proc/$second/exe")" = "$HOME/Kelmar/zarn" ] || fail "the second start did not run the game folder's launcher"
[ "$(readlink "/proc/$second/cwd")" = "$HOME/Kelmar" ] || fail "the game folder's launcher does not run in its folder"
kill "$second"

echo "-- removing the package"
$SUDO dpkg -r kelmar >/dev/null
installed_by_us=
[ ! -e /usr/lib/kelmar/zarn ] && [ ! -e /usr/bin/zarn ] || fail "files stayed after removing the package"
[ -x "$HOME/Kelmar/zarn" ] || fail "removing the package touched the player's game folder"
echo "package: $(basename "$deb") installs, starts, installs a game folder and removes cleanly"
