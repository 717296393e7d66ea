#!/usr/bin/env bash
# ThreadSanitizer run of the tests of the worker threads: the download worker (tests/net), the
# extraction thread and the updates that use both (tests/update). Toolkit-free build, only
# those test programs; every test runs several times, as races show only in some interleavings.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=build/tsan

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_BUILD_UI=OFF -DZARN_SANITIZE=thread -DZARN_WERROR=ON >/dev/null
ninja -C "$build" -j"$(nproc)" zarn_net_tests zarn_update_tests

# The peak-memory test measures ThreadSanitizer's own shadow memory here, not the worker's.
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
ctest --test-dir "$build" -L core -E '^FileDownTest\.MemoryDoesNotGrowWithTheFileSize$' --repeat until-fail:3 \
  --output-on-failure -j"$(nproc)" --timeout 600
