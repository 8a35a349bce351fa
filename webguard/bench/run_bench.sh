#!/bin/bash
# Builds and runs the website protection matcher benchmark (native, outside ctest).
#   bash webguard/bench/run_bench.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/webguard-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target webguard_bench -j2 >/dev/null
"$build/webguard/bench/webguard_bench" --benchmark_counters_tabular=true
rm -f /tmp/webguard-bench-content.php /tmp/webguard-bench-signatures.txt
