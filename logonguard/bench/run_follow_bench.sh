#!/usr/bin/env bash
# Builds the FTP follow benchmark for Win32 and runs it under wine64 in its own harness prefix:
# the time from the FTP source's start to its first report on a 64 MB day's log (or the size in
# MB given), the bytes its first look read, and when a failure appended after it arrives.
#   BENCH_BUILD=build/x   an existing x86_64 build folder to use instead of build/bench-x86_64
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BENCH_BUILD:-$ROOT/build/bench-x86_64}
if [ -z "${BENCH_BUILD:-}" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
fi
cmake --build "$BUILD" -j2 --target ftp_follow_bench
source "$ROOT/scripts/wine-harness.sh"
harness_start "${BENCH_HARNESS:-follow-bench}"
trap harness_stop EXIT
"$WINE64" "$BUILD/bin/ftp_follow_bench.exe" "$@" | iconv -f GBK -t UTF-8
