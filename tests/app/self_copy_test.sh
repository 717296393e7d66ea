#!/usr/bin/env bash
# Runs the real launcher under another name from a temporary folder and checks that it copied
# itself to "zarn" beside itself, kept the execute permission, and started the copy with the
# copy's own path as its argument.
set -euo pipefail
zarn=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$zarn" "$dir/Kelmar-setup.bin"
printf 'old' > "$dir/zarn"
cd "$dir"
# The copy would show its window; a platform without a display lets it start and we stop it.
export QT_QPA_PLATFORM=offscreen
"$dir/Kelmar-setup.bin" -agent:7
cmp -s "$dir/Kelmar-setup.bin" "$dir/zarn" || { echo "zarn is not a copy of the setup file"; exit 1; }
[ -x "$dir/zarn" ] || { echo "zarn is not executable"; exit 1; }
# The started copy runs with its own full path as its only argument.
for _ in $(seq 50); do
  pid=$(pgrep -f "^$dir/zarn $dir/zarn\$" || true)
  [ -n "$pid" ] && break
  sleep 0.1
done
[ -n "$pid" ] || { echo "the copy was not started with its own path"; exit 1; }
[ "$(readlink /proc/$pid/cwd)" = "$dir" ] || { echo "the copy did not inherit the working directory"; exit 1; }
kill "$pid"
[ -e "$dir/Kelmar-setup.bin" ] || { echo "the setup file went away"; exit 1; }
echo "self-copy: ok"
