#!/bin/bash
# Instructions the signature check executes per byte of the benchmark's corpus, for the shipped
# list and the 100,000 synthetic one, counted by valgrind's callgrind in the scan alone (list
# building and file reading left out). Run run_bench.sh first: it builds and lists the corpus.
#   bash webguard/bench/count_instructions.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/webguard-bench}
list="$build/matcher-bench/files.txt"
[ -s "$list" ] || { echo "no corpus list $list: run webguard/bench/run_bench.sh first"; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind missing: bash scripts/setup.sh installs it"; exit 1; }
cmake --build "$build" --target scan_instructions -j2 >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for set in shipped synthetic; do
  summary=$(valgrind --tool=callgrind --callgrind-out-file="$out/$set" --collect-atstart=no \
    --toggle-collect='CSignatureScan::Feed*' --toggle-collect='CSignatureScan::Finish*' \
    "$build/webguard/bench/scan_instructions" "$list" "$set" 2>/dev/null)
  instructions=$(callgrind_annotate "$out/$set" | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }')
  bytes=$(echo "$summary" | awk '{ print $4 }')
  awk -v set="$set" -v n="$instructions" -v b="$bytes" -v s="$summary" \
    'BEGIN { printf "%-9s %s instructions, %.2f a byte (%s)\n", set, n, n / b, s }'
done
