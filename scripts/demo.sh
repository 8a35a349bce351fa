#!/usr/bin/env bash
# Runs Tavrick under wine64 and leaves a screenshot in build/demo/tavrick.png.
# With a desktop (DISPLAY set) the program stays until you close it; headless, it runs on
# a private Xvfb screen for DEMO_SECONDS (default 8), is photographed and closed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

bash scripts/setup.sh
cmake -S . -B build/x86_64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake >/dev/null
cmake --build build/x86_64 -j "$(nproc)"

# The program runs from its own folder: its configuration and logs live beside it.
DEMO=build/demo
mkdir -p "$DEMO"
cp build/x86_64/bin/tavrick.exe "$DEMO/"
for f in build/x86_64/bin/*.sys build/x86_64/bin/*.dll build/x86_64/bin/*.inf; do
  [ -e "$f" ] && cp "$f" "$DEMO/"
done

headless=0
[ -z "${DISPLAY:-}" ] && headless=1
source scripts/wine-harness.sh
trap harness_stop EXIT
harness_start demo

# The stand-in vendor service beside the program (127.0.0.1 only), stopped by its pid at the end.
VENDOR_DATA=$ROOT/$DEMO/vendor-service
vendor_port=$(bash standins/vendor-service/run.sh start "$VENDOR_DATA" "${VENDOR_PORT:-0}")
trap 'bash standins/vendor-service/run.sh stop "$VENDOR_DATA"; harness_stop' EXIT
export TAVRICK_SERVICE_HOST=127.0.0.1:$vendor_port
echo "demo: vendor service http://$TAVRICK_SERVICE_HOST/tavrick/admin/ (outbox), /tavrick/user/index.jsp (remote operation)"

(cd "$DEMO" && "$WINE64" tavrick.exe) &
app_pid=$!
if [ "$headless" = 1 ]; then
  sleep "${DEMO_SECONDS:-8}"
  import -window root "$DEMO/tavrick.png"
  echo "demo: screenshot in $DEMO/tavrick.png"
  kill "$app_pid" 2>/dev/null || true
else
  sleep 5
  import -window root "$DEMO/tavrick.png" || true
  echo "demo: screenshot in $DEMO/tavrick.png; close the Tavrick window to end the demo"
  wait "$app_pid" || true
fi
