#!/usr/bin/env bash
# Fuzzing of every reader of outside data: builds the libFuzzer programs of fuzz/ with clang
# under AddressSanitizer and UndefinedBehaviorSanitizer, replays the seed and kept inputs, then
# runs each program for a bounded time (ZARN_FUZZ_SECONDS, 60 s by default), two at a time.
# Fails when a program crashes, leaks, hangs or breaks one of its checks; the input that did it
# is kept under build/fuzz/artifacts/ and printed (base64) in the log.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
cd "$top"

seconds=${ZARN_FUZZ_SECONDS:-60}
parallel=${ZARN_FUZZ_JOBS:-2}
build=build/fuzz

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DZARN_BUILD_UI=OFF -DZARN_BUILD_TESTS=OFF -DZARN_FUZZ=ON -DZARN_WERROR=ON >/dev/null
ninja -C "$build" -j"$(nproc)" fuzz

# The programs write many small files (archives unpacked, configuration saved and synced): in
# memory when the machine has /dev/shm.
scratch_parent=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_parent=/dev/shm
work=$(mktemp -d "$scratch_parent/zarn-fuzz-ci.XXXXXX")
trap 'rm -rf "$work"' EXIT
artifacts="$top/$build/artifacts"
mkdir -p "$artifacts"

# target dictionary longest-input
targets="layout json 8192
version_manifest json 8192
login_info json 8192
register_reply json 8192
server_list xml 8192
package_manifest xml 8192
ini_file ini 8192
zip_archive zip 16384
zip_entry_name zip 1024"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One program, given its line of the table: replay, then fuzz. Prints one summary line.
fuzz_one() {
  local name=$1 dict=$2 maxlen=$3
  local program="$top/$build/fuzz/fuzz_$name" log="$work/$name.log"
  export ZARN_FUZZ_SCRATCH="$work/scratch-$name"
  mkdir -p "$ZARN_FUZZ_SCRATCH" "$work/corpus-$name"
  local kept=("$top/fuzz/corpus/$name"/*)
  [ -d "$top/fuzz/regressions/$name" ] && kept+=("$top/fuzz/regressions/$name"/*)
  if ! "$program" -close_fd_mask=3 "${kept[@]}" >"$log" 2>&1; then
    echo "FAIL $name: a seed or kept input fails"; tail -n 40 "$log"; return 1
  fi
  # New inputs go to the scratch corpus; the committed seeds are only read.
  if ! "$program" -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=3 -print_final_stats=1 -dict="$top/fuzz/dict/$dict.dict" \
    -artifact_prefix="$artifacts/$name-" "$work/corpus-$name" "$top/fuzz/corpus/$name" >>"$log" 2>&1; then
    echo "FAIL $name: input kept in $artifacts"; tail -n 60 "$log"; return 1
  fi
  echo "ok   $name: $(grep -E '^#[0-9]+' "$log" | tail -n 1)"
}
export -f fuzz_one
export top build work artifacts seconds

echo "$targets" | xargs -P "$parallel" -L 1 bash -c 'fuzz_one "$@"' _
