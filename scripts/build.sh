#!/usr/bin/env bash
# Configures and builds the launcher, its tools and its tests into build/main, warnings as errors.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZARN_BUILD_DIR:-$top/build/main}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_WERROR=ON "$@" >/dev/null
ninja -C "$build" -j"$(nproc)"
