#!/usr/bin/env bash
# Builds and runs the log parsing benchmark (optimised native build).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cmake -S "$ROOT" -B "$ROOT/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$ROOT/build/bench" --target logonguard_bench
"$ROOT/build/bench/logonguard/bench/logonguard_bench" "$@"
