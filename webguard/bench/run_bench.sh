#!/bin/bash
# The website protection's signature check against Hyperscan and grep -F, one table.
#   bash webguard/bench/run_bench.sh [build folder] [corpus folder...]
# The corpus is every .php, .js and .inc file below the corpus folders: those given, else those
# in WEBGUARD_BENCH_CORPUS (blank-separated), else Debian's wordpress and phpmyadmin packages
# and the PHP libraries of /usr/share/php, downloaded and unpacked into build/debian-webapps by
# scripts/fetch-debian-webapps.sh (nothing is installed; scripts/setup.sh installs libhyperscan-dev).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/webguard-bench}
shift || true
if [ $# -gt 0 ]; then
  folders=("$@")
elif [ -n "${WEBGUARD_BENCH_CORPUS:-}" ]; then
  read -r -a folders <<< "$WEBGUARD_BENCH_CORPUS"
else
  bash "$root/scripts/fetch-debian-webapps.sh" "$root/build/debian-webapps"
  unpacked="$root/build/debian-webapps/root/usr/share"
  folders=("$unpacked/wordpress" "$unpacked/phpmyadmin" "$unpacked/php")
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target matcher_compare -j2 >/dev/null
work="$build/matcher-bench"
mkdir -p "$work"
list="$work/files.txt"
for dir in "${folders[@]}"; do
  [ -d "$dir" ] || { echo "missing corpus folder $dir"; exit 1; }
  find "$dir" -type f \( -name '*.php' -o -name '*.js' -o -name '*.inc' \) | LC_ALL=C sort
done > "$list"
"$build/webguard/bench/matcher_compare" "$list" "$work"
