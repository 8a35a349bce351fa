#!/usr/bin/env bash
# Resident memory of the protecting program: tavrick.exe (x86_64 build, under wine64 with the
# stand-in driver) protecting with the logon guard on, idle in the tray, once with an empty
# blocked list and once with 20,000 blocked entries loaded. Prints VmRSS and VmHWM of each run
# and the largest resident mappings of the program (what holds the memory).
#
#   bash ipblock/bench/resident_memory.sh BUILD_DIR [ENTRIES]   (BUILD_DIR holds bin/tavrick.exe;
#                                                                ENTRIES default 20000)
#   SETTLE=N  seconds between protection on and the measure (default 30)
#   EXE=PATH  the program measured (default BUILD_DIR/bin/tavrick.exe). The stand-in driver
#             is paced (200 ms an entry, 4,000 s for 20,000), so the run with the list uses
#             FULL_EXE (default BUILD_DIR/bin/tavrick_hooked.exe: the same program with the
#             test hooks) with TAVRICK_HOOK_LOAD_MS=1.
#   STRIP=1   measures copies without their debug sections (what holds most of the memory:
#             Wine reads a PE image whose sections are not page-aligned into private memory,
#             DWARF sections included)
#   HARNESS=NAME  the wine prefix build/wine-NAME (default tests). An automatic start installs
#                 no driver: the stand-in driver must be installed there already, as a run of
#                 the Win32 tests in that prefix leaves it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT"
BUILD=${1:?build folder with bin/tavrick.exe}
ENTRIES=${2:-20000}
SETTLE=${SETTLE:-30}

WORK=$ROOT/build/bench-memory
rm -rf "$WORK"
mkdir -p "$WORK/ftplogs/FTPSVC1"
printf '#Software: Microsoft Internet Information Services 10.0\r\n#Fields: date time c-ip cs-username cs-method sc-status\r\n' \
  > "$WORK/ftplogs/FTPSVC1/u_ex261209.log"
guard=$(printf '[logonguard]\r\nenabled=1\r\neventlog=1\r\nsqlserver=1\r\nftp=1\r\nftplogfolder=Z:%s\r\n' \
  "$(echo "$WORK/ftplogs" | tr / '\\')")
list=$(awk -v n="$ENTRIES" 'BEGIN { for (i = 0; i < n; i++) printf "%s61.%d.%d.%d|0|1个月|0", (i ? "," : ""), int(i / 62500) + 1, int(i / 250) % 250 + 1, i % 250 + 1 }')
EXE=${EXE:-$BUILD/bin/tavrick.exe}
FULL_EXE=${FULL_EXE:-$BUILD/bin/tavrick_hooked.exe}
for d in empty full; do
  mkdir -p "$WORK/$d"
  if [ "$d" = empty ]; then cp "$EXE" "$WORK/$d/tavrick.exe"; else cp "$FULL_EXE" "$WORK/$d/tavrick.exe"; fi
  [ "${STRIP:-0}" = 1 ] && x86_64-w64-mingw32-strip --strip-debug "$WORK/$d/tavrick.exe"
  for f in "$BUILD"/bin/*.sys "$BUILD"/bin/*.dll "$BUILD"/bin/*.inf; do [ -e "$f" ] && cp "$f" "$WORK/$d/"; done
  printf '%s' "$guard" > "$WORK/$d/tavrick.cfg"
done
# The list in the configuration's own code page (GBK): 个月.
printf '[ipfilter]\r\nipfilterlst=%s\r\n' "$list" | iconv -f UTF-8 -t GBK >> "$WORK/full/tavrick.cfg"
printf '[ipfilter]\r\nipfilterlst=\r\n' >> "$WORK/empty/tavrick.cfg"

source scripts/wine-harness.sh
app_pid=
stop_all() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi
  harness_stop
}
trap stop_all EXIT
harness_start "${HARNESS:-tests}" >/dev/null

source traffic/bench/wine_program.sh

measure() {
  local folder=$1 pid= i
  (cd "$folder" && TAVRICK_HOOK_LOAD_MS=1 exec "$WINE64" tavrick.exe rebootup) >/dev/null 2>&1 &
  app_pid=$!
  for i in $(seq 1 240); do
    answer_boxes
    pid=$(program_pid "$folder")
    [ -n "$pid" ] && grep -aq '^onlinetime=[1-9]' "$folder/tavrick.cfg" 2>/dev/null && break
    sleep 1
  done
  grep -aq '^onlinetime=[1-9]' "$folder/tavrick.cfg" 2>/dev/null || { echo "bench: protection did not start" >&2; exit 1; }
  sleep "$SETTLE"
  answer_boxes
  echo "== $(basename "$folder") ($(grep -a '^ipfilterlst=' "$folder/tavrick.cfg" | tr ',' '\n' | grep -ac '|' || true) entries listed): $(grep -E '^(VmRSS|VmHWM|VmSize|RssAnon|RssFile|Threads)' "/proc/$pid/status" | tr -s ' \t' ' ' | tr '\n' ';')"
  echo "   largest resident mappings (kB, path or [anon]):"
  awk '/^[0-9a-f]+-[0-9a-f]+ / { name = ($6 == "" ? "[anon]" : $6) } /^Rss:/ { rss[name] += $2 }
       END { for (n in rss) if (rss[n] >= 1024) printf "   %8d %s\n", rss[n], n }' "/proc/$pid/smaps" | sort -rn | head -15
  echo "   anonymous mappings of 1 MB or more resident (kB: size rss):"
  awk '/^[0-9a-f]+-[0-9a-f]+ / { name = ($6 == "" ? "[anon]" : $6); range = $1 } /^Size:/ { size = $2 }
       /^Rss:/ { if (name == "[anon]" && $2 >= 1024) printf "   %s %8d %8d\n", range, size, $2 }' "/proc/$pid/smaps" | sort -k3 -rn | head -12
  kill "$app_pid" 2>/dev/null || true
  kill "$pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
}

# The driver service of the prefix, started as the Win32 tests start it.
"$WINE64" sc start firewalldriver >/dev/null 2>&1 || true
measure "$WORK/empty"
measure "$WORK/full"
