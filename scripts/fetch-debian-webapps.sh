#!/usr/bin/env bash
# Downloads the packages of ordinary web applications that Debian ships and unpacks their files
# (nothing is installed, configured or started) for the signature tests and the matcher benchmark:
#   bash scripts/fetch-debian-webapps.sh [DEST]      (default: build/debian-webapps)
# DEST/root holds the unpacked trees (DEST/root/usr/share/wordpress, .../phpmyadmin, .../php,
# .../adminer, Tomcat's example and manager JSPs, Mono's ASP.NET examples). A second run with the
# same package list does nothing.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEST=${1:-$ROOT/build/debian-webapps}

# WordPress and phpMyAdmin with the PHP libraries whose files make up /usr/share/php for them,
# Adminer (one minified PHP file), and the JSP and ASPX pages of Tomcat and Mono.
PACKAGES=(
  wordpress phpmyadmin adminer
  php-composer-ca-bundle php-fig-http-message-util php-getallheaders php-getid3
  php-google-recaptcha php-mariadb-mysql-kbs php-nikic-fast-route php-phpmyadmin-motranslator
  php-phpmyadmin-shapefile php-phpmyadmin-sql-parser php-psr-cache php-psr-container
  php-psr-http-factory php-psr-http-message php-psr-log php-slim-psr7 php-symfony-cache
  php-symfony-cache-contracts php-symfony-config php-symfony-dependency-injection
  php-symfony-deprecation-contracts php-symfony-expression-language php-symfony-filesystem
  php-symfony-polyfill-php80 php-symfony-service-contracts php-symfony-var-exporter php-twig
  php-twig-i18n-extension php-webmozart-assert
  tomcat10-examples tomcat10-admin asp.net-examples
)

stamp="$DEST/packages.txt"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "${PACKAGES[*]}" ]; then
  exit 0
fi
rm -rf "$DEST/debs" "$DEST/root" "$stamp"
mkdir -p "$DEST/debs" "$DEST/root"
# apt-get download writes into the current folder; the _apt user may not reach it.
download() { (cd "$DEST/debs" && apt-get download -qq "${PACKAGES[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true); }
download
if [ "$(find "$DEST/debs" -name '*.deb' | wc -l)" -lt "${#PACKAGES[@]}" ]; then
  # The package lists may be missing or stale on a fresh machine.
  apt-get update -q >/dev/null
  download
fi
for deb in "$DEST"/debs/*.deb; do dpkg-deb -x "$deb" "$DEST/root"; done
count=$(find "$DEST/debs" -name '*.deb' | wc -l)
if [ "$count" -lt "${#PACKAGES[@]}" ]; then
  echo "fetch-debian-webapps: only $count of ${#PACKAGES[@]} packages could be downloaded" >&2
  exit 1
fi
echo "${PACKAGES[*]}" > "$stamp"
echo "fetch-debian-webapps: $count packages unpacked into $DEST/root"
