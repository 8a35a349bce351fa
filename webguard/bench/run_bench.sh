#!/bin/bash
# The website protection's signature matcher against Hyperscan and grep -F, one table.
#   bash webguard/bench/run_bench.sh [build folder]
# The corpus is every .php, .js and .inc file of Debian's wordpress and phpmyadmin packages and
# of /usr/share/php, concatenated (scripts/setup.sh installs them, and libhyperscan-dev).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/webguard-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target matcher_compare -j2 >/dev/null
work="$build/matcher-bench"
mkdir -p "$work"
corpus="$work/corpus.bin"
for dir in /usr/share/wordpress /usr/share/phpmyadmin /usr/share/php; do
  [ -d "$dir" ] || { echo "missing $dir: run scripts/setup.sh"; exit 1; }
  find "$dir" -type f \( -name '*.php' -o -name '*.js' -o -name '*.inc' \) -print0 | sort -z | xargs -0 cat
done > "$corpus"
"$build/webguard/bench/matcher_compare" "$corpus" "$work"
