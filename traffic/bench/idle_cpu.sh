#!/usr/bin/env bash
# Idle cost of protection: CPU time of tavrick.exe (x86_64 build, under wine64 with the
# stand-in driver, no traffic) over a measuring period, with protection on and, for
# comparison, with protection off in the same run. Prints the share of one core for both
# and their ratio.
#
#   bash traffic/bench/idle_cpu.sh [SECONDS]     (default 60; builds build/x86_64 first)
#   SETTLE=N bash traffic/bench/idle_cpu.sh      start-up time left out of the measure (default 25 s)
#   TAVRICK_EXE=/path/to/tavrick.exe bash traffic/bench/idle_cpu.sh   measures another build
#   LOGONGUARD=1 bash traffic/bench/idle_cpu.sh  with the logon guard on (every source, an FTP
#                                                log folder with one site and its day's file)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT"
PERIOD=${1:-60}
SETTLE=${SETTLE:-25}  # seconds between the start and the measuring period

if [ -z "${TAVRICK_EXE:-}" ]; then
  cmake -S . -B build/x86_64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake >/dev/null 2>&1
  cmake --build build/x86_64 -j 2 >/dev/null
  TAVRICK_EXE=$ROOT/build/x86_64/bin/tavrick.exe
fi

WORK=$ROOT/build/bench-idle
rm -rf "$WORK"
mkdir -p "$WORK/on" "$WORK/off"
for d in on off; do
  cp "$TAVRICK_EXE" "$WORK/$d/tavrick.exe"
  for f in build/x86_64/bin/*.sys build/x86_64/bin/*.dll build/x86_64/bin/*.inf; do
    [ -e "$f" ] && cp "$f" "$WORK/$d/"
  done
done

if [ "${LOGONGUARD:-0}" = 1 ]; then
  mkdir -p "$WORK/ftplogs/FTPSVC1"
  printf '#Software: Microsoft Internet Information Services 10.0\r\n#Fields: date time c-ip cs-username cs-method sc-status\r\n' \
    > "$WORK/ftplogs/FTPSVC1/u_ex261209.log"
  for d in on off; do
    printf '[logonguard]\r\nenabled=1\r\neventlog=1\r\nsqlserver=1\r\nftp=1\r\nftplogfolder=Z:%s\r\n' \
      "$(echo "$WORK/ftplogs" | tr / '\\')" > "$WORK/$d/tavrick.cfg"
  done
fi

source scripts/wine-harness.sh
app_pid=
stop_all() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  harness_stop
}
trap stop_all EXIT
harness_start bench >/dev/null

source traffic/bench/wine_program.sh

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# Ticks of each thread, in the order the threads were created (the main thread first).
thread_ticks() {
  local t
  for t in $(ls "/proc/$1/task" | sort -n); do echo "$t $(awk '{ print $14 + $15 }' "/proc/$1/task/$t/stat" 2>/dev/null || echo 0)"; done
}

# measure FOLDER WORDS: starts the program, waits until it settles, prints its share of one core.
measure() {
  local folder=$1 words=$2 pid= i
  (cd "$folder" && exec "$WINE64" tavrick.exe $words) >/dev/null 2>&1 &
  app_pid=$!
  for i in $(seq 1 60); do
    answer_boxes
    pid=$(program_pid "$folder")
    if [ -n "$pid" ] && { [ -z "$words" ] || grep -aq '^onlinetime=[1-9]' "$folder/tavrick.cfg" 2>/dev/null; }; then
      break
    fi
    sleep 1
  done
  [ -n "$pid" ] || { echo "bench: tavrick.exe did not start" >&2; exit 1; }
  if [ -n "$words" ] && ! grep -aq '^onlinetime=[1-9]' "$folder/tavrick.cfg" 2>/dev/null; then
    echo "bench: protection did not start" >&2; exit 1
  fi
  # Idle means after start-up: the first service requests, the list load, the web folder's first
  # round and Wine's own start-up work are over.
  sleep "$SETTLE"
  answer_boxes
  local hz before after
  hz=$(getconf CLK_TCK)
  before=$(cpu_ticks "$pid")
  thread_ticks "$pid" > "$folder.threads0"
  sleep "$PERIOD"
  after=$(cpu_ticks "$pid")
  thread_ticks "$pid" > "$folder.threads1"
  echo "bench: $(basename "$folder"): ticks per thread in creation order ($(getconf CLK_TCK) a second):" \
    "$(awk 'NR == FNR { t[$1] = $2; next } { printf "%d ", $2 - ($1 in t ? t[$1] : 0) }' "$folder.threads0" "$folder.threads1")" >&2
  kill "$app_pid" 2>/dev/null || true
  kill "$pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
  awk -v t=$((after - before)) -v hz="$hz" -v s="$PERIOD" 'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

on=$(measure "$WORK/on" rebootup)
off=$(measure "$WORK/off" "")
echo "idle CPU over ${PERIOD} s, share of one core: protection on ${on} %, protection off ${off} %"
awk -v a="$on" -v b="$off" 'BEGIN { if (b > 0) printf "ratio on/off: %.1f\n", a / b; else print "ratio on/off: n/a (off measured 0)" }'
