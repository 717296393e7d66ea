#!/usr/bin/env bash
# The widget tests (label ui) again under AddressSanitizer and UndefinedBehaviorSanitizer, with
# leak detection, under a virtual display. Builds only the programs those tests run.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"
build=build/asan-ui
supp="$top/tests/sanitizers"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARN_BUILD_UI=ON -DZARN_SANITIZE=ON -DZARN_WERROR=ON >/dev/null
ninja -C "$build" -j"$(nproc)" zarn-ui-test-programs

# The web engine's Chromium and the system libraries are prebuilt, without the sanitizers:
# - new_delete_type_mismatch=0: Chromium inside libQt6WebEngineCore frees some objects through
#   a base type of another size (it runs on every page close). Our own code cannot do this
#   unnoticed: -Wall -Werror refuses deleting through a base without a virtual destructor, and
#   the toolkit-free sanitizer run keeps the check.
# - lsan.supp: the leaks that Chromium, D-Bus and fontconfig leave at exit, by library.
# - malloc_context_size=2: a leak is recorded with the frame that allocated it only, so the
#   suppressions match the library that made the allocation and nothing below it. With longer
#   stacks a block that our code loses inside a web engine signal would carry web engine
#   frames and be suppressed with Chromium's own (LeakCheckSeesOurLeaks proves it is not).
# Chromium's helper processes are separate, uninstrumented programs: they need no flags.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:new_delete_type_mismatch=0:malloc_context_size=2
export LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One test at a time: the tests share the one display, and a window of one test could take the
# keyboard focus from the window of another. A test that runs past its time limit is run once
# more: under the sanitizers on a loaded machine the web engine has hung in its start-up before
# any of our code ran (the leak canary, which passes in 2 s, once reached its 120 s limit); a
# hang of our own comes back on the second try and still fails the step.
run_tests() {
  xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --test-dir "$build" --output-on-failure --timeout 300 --test-output-size-failed 4000000 \
    --repeat after-timeout:2 \
    --output-junit "$top/$build/ui-tests.xml" "$@"
}
status=0
run_tests -L ui || status=$?
if [ "$status" -ne 0 ] && python3 tests/sanitizers/only_tracer_crashes.py "$build/ui-tests.xml"; then
  # Only the sanitizer runtime failed at a process end (the leak checker crashed reading a web
  # engine thread that was ending, or a passed test's process never ended): those tests once
  # more, the same way.
  echo "== the tests above failed only at their process end; running them again"
  status=0
  run_tests --rerun-failed || status=$?
fi
if [ "$status" -ne 0 ]; then
  # Once more for the failed ones, with whole allocation stacks and without suppressions, so
  # the log shows where each reported block came from.
  echo "== failed widget tests again, with whole allocation stacks and no leak suppressions"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:new_delete_type_mismatch=0:malloc_context_size=30 LSAN_OPTIONS= \
    xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --test-dir "$build" --rerun-failed --output-on-failure --timeout 600 || true
fi
exit "$status"
