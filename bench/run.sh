#!/usr/bin/env bash
# Runs every benchmark and prints one table, with the machine it ran on:
#
#   bench/run.sh [build folder] [--quick]
#
# The build folder (default build/bench) is configured when it has no build files yet (Release,
# no tests) and only the benchmark programs, the launcher and the demo content service are
# built. --quick: one run each and a 10 s idle period, for trying the command out; the figures
# of record come from a run without it. Each benchmark's full output goes to
# <build folder>/bench-logs/. Files are written under $TMPDIR (default /tmp), so the disk
# figures are those of that disk. Nothing here is a test: a "miss" does not fail the command,
# a benchmark that fails to run does.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/bench
quick=0
for arg in "$@"; do
  case $arg in
    --quick) quick=1 ;;
    -*) echo "usage: $0 [build folder] [--quick]" >&2; exit 2 ;;
    *) build=$(realpath -m "$arg") ;;
  esac
done

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARN_BUILD_TESTS=OFF > /dev/null
fi
ui=$(sed -n 's/^ZARN_BUILD_UI:BOOL=//p' "$build/CMakeCache.txt")
targets=(zarn-bench-download zarn-bench-extract zarn-bench-manifest zarn-bench-mirror zarn-bench-parallel zarn-bench-repair zarn-bench-resume zarn-bench-startup zarn-bench-trust)
[ "$ui" != OFF ] && targets+=(zarn zarn-demo-server zarn-bench-servertree zarn-bench-responsive)
ninja -C "$build" -j2 "${targets[@]}" > /dev/null

if [ $quick = 1 ]; then
  download_runs=1 extract_runs=1 manifest_runs=5 mirror_runs=1 repair_runs=1 tree_runs=3 startup_runs=1 idle=10
  responsive_runs=1 responsive_mib=256
else
  download_runs=5 extract_runs=3 manifest_runs=20 mirror_runs=5 repair_runs=3 tree_runs=10 startup_runs=7 idle=30
  responsive_runs=3 responsive_mib=1024
fi

logs=$build/bench-logs
mkdir -p "$logs"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u '+%Y-%m-%d %H:%M UTC')
rows=()
failed=()

# run NAME COMMAND...: the command's output goes to the log; its ROW lines to the table.
run() {
  local name=$1
  shift
  echo "running $name ..." >&2
  if ! "$@" > "$logs/$name.log" 2>&1; then failed+=("$name"); fi
  while IFS= read -r line; do rows+=("$line"); done < <(sed -n 's/^ROW\t//p' "$logs/$name.log")
}

b=$build/bench
run download "$b/download/zarn-bench-download" --runs $download_runs
run extract "$b/extract/zarn-bench-extract" --runs $extract_runs
run manifest "$b/manifest/zarn-bench-manifest" --runs $manifest_runs
run mirror "$b/mirror/zarn-bench-mirror" --runs $mirror_runs
run repair "$b/repair/zarn-bench-repair" --runs $repair_runs
run trust "$b/trust/zarn-bench-trust" --runs $extract_runs
# nginx (nginx-light) serves the package; one run: the figures are byte counts, not times.
run resume "$b/resume/zarn-bench-resume" --size-mib 200
# Several package downloads at once against one at a time, in the same run; nginx and the
# fault proxy of the tests (delay and pacing) serve. One run: each row is a whole update.
run parallel "$b/parallel/zarn-bench-parallel"
if [ "$ui" != OFF ]; then
  run servertree env QT_QPA_PLATFORM=offscreen "$b/servertree/zarn-bench-servertree" --runs $tree_runs
  # The update button's check job hashing a large folder while a window repaints.
  run responsive env QT_QPA_PLATFORM=offscreen "$b/responsive/zarn-bench-responsive" --runs $responsive_runs \
    --size-mib $responsive_mib
  startup=("$b/startup/zarn-bench-startup" --zarn "$build/src/zarn" --server "$build/tools/demo-server/zarn-demo-server"
           --content "$top/tools/demo-server/content" --runs $startup_runs --idle $idle)
  if [ -n "${DISPLAY:-}" ]; then
    run startup "${startup[@]}"
  else
    run startup xvfb-run -a -s "-screen 0 1920x1080x24" "${startup[@]}"
  fi
else
  rows+=("server tree, responsiveness during a check, start-up, idle CPU: not built (ZARN_BUILD_UI=OFF)	-	-	-	-	skipped")
fi

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
echo
echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo) RAM," \
  "kernel $(uname -r), $(. /etc/os-release && echo "$PRETTY_NAME")"
echo "Started $started; load average (1, 5, 15 min) before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Peers: $(curl --version | head -1 | cut -d' ' -f1-2), $(unzip -v | head -1 | cut -d' ' -f1-2)" \
  "(Info-ZIP), $(python3 --version) zipfile, zlib $(sed -n 's/^zlib \([0-9.]*\).*/\1/p' "$logs/extract.log" | head -1)"
echo
echo "| benchmark | ours | peer | ratio | goal | result |"
echo "|---|---|---|---|---|---|"
for row in "${rows[@]}"; do
  IFS=$'\t' read -r name ours peer ratio goal result <<< "$row"
  # A row that continues the one above is indented; Markdown keeps only non-breaking blanks.
  [[ $row == "  "* ]] && name="&nbsp;&nbsp;${name#  }"
  echo "| $name | $ours | $peer | $ratio | $goal | $result |"
done
echo
echo "Full output: $logs/"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED to run: ${failed[*]} (see their logs)"
  exit 1
fi
