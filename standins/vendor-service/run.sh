#!/usr/bin/env bash
# Starts or stops the vendor service: gunicorn with --workers worker processes (default 2), on
# 127.0.0.1 unless --listen names another address; state in DATA_DIR/vendor.sqlite3 unless
# --store names a PostgreSQL database; mail and SMS delivered when DATA_DIR/delivery.ini or
# --delivery configures a relay or gateway.
#   run.sh start DATA_DIR [PORT] [options]  background service; prints the port (0 = any free port)
#   run.sh stop DATA_DIR                    stops the service whose pid is in DATA_DIR/service.pid
#   run.sh DATA_DIR [PORT] [options]        foreground, until Ctrl+C
#   run.sh publish DATA_DIR x86|x64 VERSION [--build-key KEY_FILE]  publishes the files in
#          DATA_DIR/newsoft/<arch>/ as the new build, signed; VERSION becomes the version file
# Pages: http://127.0.0.1:PORT/tavrick/admin/ (outbox),
# /tavrick/user/index.jsp (remote operation).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# Debian's interpreter: gunicorn and psycopg2 are Debian's packages (another python3 first in
# PATH would not see them).
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3

# The pid in DATA_DIR/service.pid when it is still this folder's service (a pid can be reused).
running_pid() {
  local data=$1 pid
  [ -f "$data/service.pid" ] || return 1
  pid=$(cat "$data/service.pid")
  [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' ' ' < "/proc/$pid/cmdline" | grep -q -- "vendor_service.py --data $data " || return 1
  echo "$pid"
}

# The master (service.pid) stops its workers on SIGTERM; workers still there after it (a master
# killed before) are its children, looked up before the master goes.
stop_service() {
  local data=$1 pid workers p
  if pid=$(running_pid "$data"); then
    workers=$(ps -o pid= --ppid "$pid" 2>/dev/null || true)
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    for p in $workers; do
      for _ in $(seq 1 30); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$p" 2>/dev/null || true
    done
  fi
  rm -f "$data/service.pid" "$data/service.port"
}

case "${1:-}" in
  start)
    data=$2; port=${3:-8086}; shift; shift; [ $# -gt 0 ] && shift
    mkdir -p "$data"
    # A service this folder still runs (started again without a stop) goes first, so that one
    # stop always ends everything started for the folder.
    stop_service "$data"
    "$PY" "$HERE/vendor_service.py" --data "$data" --port "$port" "$@" \
      </dev/null >>"$data/service.log" 2>&1 &
    pid=$!
    for _ in $(seq 1 100); do
      if [ -s "$data/service.port" ]; then cat "$data/service.port"; exit 0; fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    echo "vendor service did not start; see $data/service.log" >&2
    kill "$pid" 2>/dev/null || true
    exit 1
    ;;
  stop)
    stop_service "$2"
    ;;
  publish)
    shift
    exec "$PY" "$HERE/vendor_service.py" publish "$@"
    ;;
  ""|-h|--help)
    sed -n '2,13p' "$0"; exit 2 ;;
  *)
    data=$1; port=${2:-8086}; shift; [ $# -gt 0 ] && shift
    exec "$PY" "$HERE/vendor_service.py" --data "$data" --port "$port" "$@"
    ;;
esac
