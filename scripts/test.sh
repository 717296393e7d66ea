#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the formatting check, all
# tests (widget tests under a virtual display), and the toolkit-free tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)

bash scripts/install-deps.sh
bash scripts/check-format.sh

echo "== build"
bash scripts/build.sh
echo "== tests"
xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --test-dir build/main --output-on-failure -j"$jobs" --timeout 600

echo "== sanitizer build (toolkit-free tests)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARN_BUILD_UI=OFF -DZARN_SANITIZE=ON -DZARN_WERROR=ON >/dev/null
ninja -C build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j"$jobs" -L core --timeout 600

# Further CI steps (fault injection, fuzzing, sanitizers, packaging), each its own script, in
# the order of their names.
for step in scripts/ci.d/*.sh; do
  [ -e "$step" ] || continue
  echo "== $(basename "$step" .sh)"
  bash "$step"
done
