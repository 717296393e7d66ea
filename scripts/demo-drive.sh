#!/usr/bin/env bash
# Drives the demo launcher on a virtual display as a player would, and saves screenshots.
# Arguments: the demo folder, the launcher's process id.
set -uo pipefail
demo=$1
launcher=$2
sleep 4
import -window root "$demo/screenshot-start.png"
echo "screenshot: $demo/screenshot-start.png"
kill "$launcher" 2>/dev/null || true
