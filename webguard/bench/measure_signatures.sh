#!/bin/bash
# Measures the stand-in library's signature set once: detection on the web shells kept for the
# tests, and false positives on the clean PHP of real web applications that Debian ships.
#   bash webguard/bench/measure_signatures.sh [build folder]
# Installs wordpress and phpmyadmin (Debian packages) when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/webguard-bench}
for pkg in wordpress phpmyadmin; do
  dpkg -s "$pkg" >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$pkg" >/dev/null
done
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target signature_scan -j2 >/dev/null
scan="$build/webguard/bench/signature_scan"
types=php,asp,asa,aspx,jsp,inc
echo "== detection: web shells written for the tests"
"$scan" --ext "$types" "$root/tests/data/webshells"
echo "== false positives: clean PHP shipped by Debian"
for dir in /usr/share/wordpress /usr/share/phpmyadmin /usr/share/php; do
  [ -d "$dir" ] || continue
  echo "-- $dir"
  "$scan" --ext "$types" "$dir"
done
