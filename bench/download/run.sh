#!/usr/bin/env bash
# Builds and runs the download benchmark: bench/download/run.sh [build folder] [--runs N] [--dir FOLDER]
# The output files go to --dir (default $TMPDIR or /tmp); the figures depend on that disk.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$here/build/bench}"
shift || true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DZARN_BUILD_UI=OFF -DZARN_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
fi
ninja -C "$build" -j2 zarn-bench-download
exec "$build/bench/download/zarn-bench-download" "$@"
