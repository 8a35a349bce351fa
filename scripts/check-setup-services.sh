#!/usr/bin/env bash
# Checks that scripts/setup.sh installs no service: apt-get simulates installing setup's package
# lists on a machine with nothing installed (an empty package status), and no web server, PHP
# FastCGI pool, Apache module, database server or servlet container may be among what it brings.
# The one exception is PostgreSQL's server, which the vendor service's tests run in a private
# folder: setup stops every cluster Debian's package makes and sets it to manual start, and on
# a machine where it is installed this script checks that no cluster runs or starts at boot.
#   bash scripts/check-setup-services.sh            (setup's own lists)
#   bash scripts/check-setup-services.sh PKG...     (any list, to see the check refuse one)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SERVICES='^Inst (apache2|apache2-bin|libapache2-mod-[^ ]*|nginx[^ ]*|lighttpd[^ ]*|php[0-9.]*-fpm|php[0-9.]*-cgi|mariadb-server[^ ]*|mysql-server[^ ]*|tomcat[0-9]+|jetty[0-9]*|uwsgi[^ ]*|caddy|thttpd|mini-httpd|micro-httpd|webfs|boa) '

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
if command -v pg_lsclusters >/dev/null 2>&1; then
  while read -r version cluster _ status _; do
    [ -n "$version" ] || continue
    start=$(cat "/etc/postgresql/$version/$cluster/start.conf" 2>/dev/null || echo auto)
    if [[ "$status" == online* ]] || ! grep -qx 'manual\|disabled' <<<"$start"; then
      echo "check-setup-services: PostgreSQL cluster $version/$cluster is $status, start: $start"
      found=1
    fi
  done < <(pg_lsclusters -h 2>/dev/null)
fi
[ "$found" -eq 0 ] && echo "check-setup-services: setup installs no service"
exit "$found"
