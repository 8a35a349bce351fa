#!/usr/bin/env bash
# Builds and runs the blocked list's benchmark (optimised native build).
#   run_bench.sh [entries]   (default 20000)
# BENCH_BUILD names the build folder (default build/bench).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BENCH_BUILD:-$ROOT/build/bench}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target blocked_list_bench
"$BUILD/ipblock/bench/blocked_list_bench" "$@"
