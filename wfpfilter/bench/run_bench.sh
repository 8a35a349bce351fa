#!/usr/bin/env bash
# Builds and runs the user-mode packet filter's benchmarks (optimised native build).
#   run_bench.sh [target] [benchmark options]   target: wfp_load_bench (default)
# BENCH_BUILD names the build folder (default build/bench).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BENCH_BUILD:-$ROOT/build/bench}
TARGET=${1:-wfp_load_bench}
[ $# -gt 0 ] && shift
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target "$TARGET"
"$BUILD/wfpfilter/bench/$TARGET" "$@"
