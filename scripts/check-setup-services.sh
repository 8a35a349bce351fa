#!/usr/bin/env bash
# Checks that scripts/setup.sh installs no service: apt-get simulates installing setup's package
# lists on a machine with nothing installed (an empty package status), and no web server, PHP
# FastCGI pool, Apache module, database server or servlet container may be among what it brings.
#   bash scripts/check-setup-services.sh            (setup's own lists)
#   bash scripts/check-setup-services.sh PKG...     (any list, to see the check refuse one)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SERVICES='^Inst (apache2|apache2-bin|libapache2-mod-[^ ]*|nginx[^ ]*|lighttpd[^ ]*|php[0-9.]*-fpm|php[0-9.]*-cgi|mariadb-server[^ ]*|mysql-server[^ ]*|postgresql-[0-9]+|tomcat[0-9]+|jetty[0-9]*|uwsgi[^ ]*|caddy|thttpd|mini-httpd|micro-httpd|webfs|boa) '

if [ $# -gt 0 ]; then
  lists=("$*")
else
  mapfile -t lists < <(bash "$ROOT/scripts/setup.sh" --list)
fi
status=$(mktemp)
trap 'rm -f "$status"' EXIT
found=0
for list in "${lists[@]}"; do
  # shellcheck disable=SC2086  # a list is words: options and package names
  if ! out=$(apt-get -s -q -o Dir::State::status="$status" install $list 2>&1); then
    echo "check-setup-services: apt-get cannot simulate: $list"
    echo "$out" | tail -5
    exit 1
  fi
  bad=$(grep -E "$SERVICES" <<<"$out" | cut -d' ' -f2 | tr '\n' ' ' || true)
  if [ -n "$bad" ]; then
    echo "check-setup-services: installing '$list' brings services: $bad"
    found=1
  fi
done
[ "$found" -eq 0 ] && echo "check-setup-services: setup installs no service"
exit "$found"
