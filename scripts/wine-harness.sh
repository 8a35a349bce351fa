# Wine harness, sourced by the test and demo scripts.
#   harness_start NAME   dedicated 64-bit prefix build/wine-NAME (code page 936, CJK fonts,
#                        unmanaged windows), Xvfb when there is no display, kept-alive wineserver
#   harness_restart_wine ends this prefix's Wine session and begins it again (drive letters)
#   harness_stop         ends exactly what harness_start started
# Everything runs as the x86_64 build: this kernel cannot execute 32-bit code.

HARNESS_ROOT=${HARNESS_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
HARNESS_PREFIX_VERSION=2
_harness_xvfb_pid=
_harness_server_pid=

_harness_reg() { "$WINE64" reg add "$@" /f >/dev/null 2>&1; }

_harness_make_prefix() {
  local stamp="$WINEPREFIX/.tavrick-prefix"
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$HARNESS_PREFIX_VERSION" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$WINE64" wineboot -i >/dev/null 2>&1
  # An outline font: Wine draws the embedded 12-pixel bitmaps of WenQuanYi Zen Hei with rows
  # missing, so the dialogs' 12-pixel "宋体" came out unreadable.
  local font
  # WenQuanYi Micro Hei draws CJK cleanly at the windows' 12-pixel font; Zen Hei does not.
  for font in SimSun 宋体 Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Liberation Sans"; do
    _harness_reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d 'WenQuanYi Micro Hei'
  done
  # Without a window manager every hide or destroy stalls for 2 s unless windows are unmanaged.
  _harness_reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
  # No crash dialog waiting for a human.
  _harness_reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  "$WINESERVER" -w
  echo "$HARNESS_PREFIX_VERSION" > "$stamp"
}

# The wineserver of this prefix: several harnesses (other checkouts) may run at once, so pick
# the server whose environment names our prefix rather than the newest one.
_harness_own_server() {
  local p
  for p in $(pgrep -f "^$WINESERVER" || true); do
    if tr '\0' '\n' < "/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$p"; return
    fi
  done
}

harness_start() {
  local name=${1:-tests}
  export WINEPREFIX="$HARNESS_ROOT/build/wine-$name"
  export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all} LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display itself and writes its number: no race with another harness.
    local numfile; numfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
    _harness_xvfb_pid=$!
    local i n=
    for i in $(seq 1 100); do n=$(tr -dc 0-9 < "$numfile"); [ -n "$n" ] && break; sleep 0.1; done
    rm -f "$numfile"
    [ -n "$n" ] || { echo "harness: Xvfb did not start"; return 1; }
    export DISPLAY=":$n"
  fi
  _harness_make_prefix
  _harness_wine_up
  export TAVRICK_WINE_READY=1
  echo "harness: prefix $WINEPREFIX, display $DISPLAY"
}

_harness_wine_up() {
  "$WINESERVER" -p
  _harness_server_pid=$(_harness_own_server)
  # Start Wine's background services now, on /dev/null: started later by a test they would
  # inherit its output pipe and keep ctest waiting for the end of it.
  "$WINE64" wineboot -u </dev/null >/dev/null 2>&1 || true
}

_harness_wine_down() {
  if [ -n "${WINEPREFIX:-}" ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
  fi
  if [ -n "$_harness_server_pid" ]; then kill "$_harness_server_pid" 2>/dev/null || true; fi
  _harness_server_pid=
}

# Wine's mount manager reads the drive letters (dosdevices) only when a session begins: a script
# that maps a drive after harness_start begins the session again (same prefix and display).
harness_restart_wine() {
  _harness_wine_down
  _harness_wine_up
}

harness_stop() {
  _harness_wine_down
  if [ -n "$_harness_xvfb_pid" ]; then
    kill "$_harness_xvfb_pid" 2>/dev/null || true
    wait "$_harness_xvfb_pid" 2>/dev/null || true
    _harness_xvfb_pid=
  fi
  unset TAVRICK_WINE_READY
}
