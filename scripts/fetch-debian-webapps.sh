#!/usr/bin/env bash
# Downloads the packages of ordinary web applications that Debian ships and unpacks their files
# (nothing is installed, configured or started) for the signature tests and the matcher benchmark:
#   bash scripts/fetch-debian-webapps.sh [DEST]      (default: build/debian-webapps)
# DEST/root holds the unpacked trees (DEST/root/usr/share/wordpress, .../phpmyadmin, .../php,
# .../adminer, Tomcat's example and manager JSPs, Mono's ASP.NET examples); DEST/more holds further
# applications and libraries (wikis, mail and groupware, monitoring, directory and mail admin
# tools, single sign-on, PDF, HTTP, test and shell-process libraries), kept apart so that the benchmark's corpus stays the same. A second
# run with the same package lists does nothing.
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
MORE=(
  mediawiki roundcube-core roundcube-plugins dokuwiki cacti zabbix-frontend-php icingaweb2 tt-rss
  phpldapadmin postfixadmin gosa php-phpseclib php-phpseclib3 php-guzzlehttp-guzzle
  php-symfony-console php-symfony-process php-tcpdf smarty3 php-laravel-framework
  php-league-flysystem php-dompdf libphp-phpmailer php-monolog php-doctrine-dbal
  php-horde-imp php-horde-kronolith php-horde-groupware php-horde-webmail php-horde-core
  simplesamlphp php-sabre-dav phpsysinfo nagvis roundcube-plugins-extra php-parser
  php-codesniffer phpunit php-symfony-http-kernel php-symfony-http-foundation
  php-symfony-routing php-symfony-yaml php-zend-code php-pear
)
ALL=("${PACKAGES[@]}" "${MORE[@]}")

stamp="$DEST/packages.txt"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "${ALL[*]}" ]; then
  exit 0
fi
rm -rf "$DEST/debs" "$DEST/root" "$DEST/more" "$stamp"
mkdir -p "$DEST/debs" "$DEST/root" "$DEST/more"
# apt-get download writes into the current folder; the _apt user may not reach it.
download() { (cd "$DEST/debs" && apt-get download -qq "${ALL[@]}" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true); }
download
if [ "$(find "$DEST/debs" -name '*.deb' | wc -l)" -lt "${#ALL[@]}" ]; then
  # The package lists may be missing or stale on a fresh machine.
  apt-get update -q >/dev/null
  download
fi
count=$(find "$DEST/debs" -name '*.deb' | wc -l)
if [ "$count" -lt "${#ALL[@]}" ]; then
  echo "fetch-debian-webapps: only $count of ${#ALL[@]} packages could be downloaded" >&2
  exit 1
fi
for p in "${PACKAGES[@]}"; do dpkg-deb -x "$DEST"/debs/"${p}"_*.deb "$DEST/root"; done
for p in "${MORE[@]}"; do dpkg-deb -x "$DEST"/debs/"${p}"_*.deb "$DEST/more"; done
echo "${ALL[*]}" > "$stamp"
echo "fetch-debian-webapps: $count packages unpacked into $DEST/root and $DEST/more"
