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
cp build/x86_64/bin/tavrick.exe build/x86_64/bin/trafficgen.exe "$DEMO/"
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
echo "demo: administrator password of those pages (new at each start): $(cat "$VENDOR_DATA/admin.password")"

# A first configuration that shows the main job: flood blocking with an alert by e-mail.
if [ ! -e "$DEMO/tavrick.cfg" ]; then
  printf '[sysice]\r\nsysiceipcount=100\r\n[msg]\r\nipfilterchk=1\r\nemil=admin@example.com\r\n[ipouter]\r\nipouterlst=198.51.100.9\r\n' \
    > "$DEMO/tavrick.cfg"
fi

# Presses the default button (Yes / OK) of the program's message boxes, for a headless run.
answer_boxes() {
  local end=$((SECONDS + $1)) id
  while [ $SECONDS -lt $end ]; do
    for id in $(xdotool search --name '^( 提示|tavrick)$' 2>/dev/null); do
      xdotool key --window "$id" Return 2>/dev/null || true
    done
    sleep 1
  done
}

# The first alert in the service's outbox (its listing needs the administrator password).
outbox_alert() {
  python3 -c 'import json, sys, urllib.request as u
key = open(sys.argv[2]).read().strip()
rows = json.load(u.urlopen(u.Request(sys.argv[1], headers={"Authorization": "Bearer " + key}), timeout=5))
print(rows[0]["message"] if rows else "")' \
    "http://$TAVRICK_SERVICE_HOST/tavrick/admin/outbox.json" "$VENDOR_DATA/admin.password" 2>/dev/null || true
}

# The traffic tool's requests exist only when the stand-in driver is loaded in test mode: the
# demo registers the driver service with its TestMode value (not started), so the program's
# first start still asks to install it and then loads it in test mode.
if ! "$WINE64" sc query firewalldriver >/dev/null 2>&1; then
  "$WINE64" sc create firewalldriver type= kernel start= demand \
    binPath= "$("$WINE64" winepath -w "$ROOT/$DEMO/firewalldriver.sys" 2>/dev/null)" >/dev/null
fi
"$WINE64" reg add 'HKLM\System\CurrentControlSet\Services\firewalldriver' /v TestMode /t REG_DWORD /d 1 /f >/dev/null

# "rebootup" starts protection at once; the first start installs the stand-in driver.
(cd "$DEMO" && "$WINE64" tavrick.exe rebootup) &
app_pid=$!
if [ "$headless" = 1 ]; then
  answer_boxes 15
  echo "demo: flooding from 203.0.113.7 (500 packets) and from the exception 198.51.100.9"
  (cd "$DEMO" && "$WINE64" trafficgen.exe flood 203.0.113.7 192.0.2.200 80 500 --rate 250 &&
     "$WINE64" trafficgen.exe flood 198.51.100.9 192.0.2.200 80 500 --rate 250) >/dev/null || true
  echo "demo: waiting for the statistics window to end (about 90 s)"
  for i in $(seq 1 ${DEMO_SECONDS:-130}); do
    grep -q '203.0.113.7' "$DEMO/tavrick.cfg" 2>/dev/null && break
    sleep 1
  done
  # The main window refreshes its blocked count every 20 s; the block alert goes out on the
  # blocked-IP window's 40-second timer.
  alert=
  for i in $(seq 1 45); do
    alert=$(outbox_alert)
    [ -n "$alert" ] && [ "$i" -ge 22 ] && break
    sleep 1
  done
  import -window root "$DEMO/tavrick.png"
  echo "demo: blocked list in tavrick.cfg: $(grep -a ipfilterlst "$DEMO/tavrick.cfg" | iconv -f GBK -t UTF-8)"
  echo "demo: alert in the service's outbox: ${alert:-none yet}"
  echo "demo: driver: $(cd "$DEMO" && "$WINE64" trafficgen.exe stats 2>/dev/null | tr -d '\r' | head -3 | tr '\n' ' ')"
  echo "demo: screenshot in $DEMO/tavrick.png; outbox at http://$TAVRICK_SERVICE_HOST/tavrick/admin/ (while running)"
  kill "$app_pid" 2>/dev/null || true
else
  echo "demo: answer the install question with Yes; then flood from another terminal, for example"
  echo "      (cd $DEMO && $WINE64 trafficgen.exe flood 203.0.113.7 192.0.2.200 80 500 --rate 250)"
  sleep 5
  import -window root "$DEMO/tavrick.png" || true
  echo "demo: screenshot in $DEMO/tavrick.png; close the Tavrick window to end the demo"
  wait "$app_pid" || true
fi
