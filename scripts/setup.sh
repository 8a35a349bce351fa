#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12 machine.
# Idempotent: a machine that already has it all is left alone.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  wine wine64 xvfb x11-utils xdotool imagemagick fonts-wqy-zenhei fonts-wqy-microhei locales file
  python3
  # The vendor service's tests deliver mail to a real SMTP server on a loopback port.
  python3-aiosmtpd
  # The vendor service signs the version file and build manifests (Ed25519).
  python3-cryptography
  # The vendor service runs under gunicorn; PostgreSQL is its store for several workers (its
  # tests and benchmark start a private server of their own: see the PostgreSQL step below).
  gunicorn python3-psycopg2 postgresql
  # The Windows installers of both builds.
  nsis
  # The windows' 12-pixel "宋体": WenQuanYi Zen Hei comes out garbled at that size under Wine.
  fonts-wqy-microhei
)

# The matcher benchmark measures against Hyperscan, which the program never uses. (The web
# applications the signature tests read are downloaded and unpacked by the test command,
# scripts/fetch-debian-webapps.sh: setup installs no web application and no service.)
# webguard/bench/count_instructions.sh counts the check's instructions with valgrind.
CORPUS_PACKAGES=(libhyperscan-dev valgrind)

# --list prints the package lists (for scripts/check-setup-services.sh) and changes nothing.
if [ "${1:-}" = "--list" ]; then
  echo "${PACKAGES[*]}"
  echo "--no-install-recommends ${CORPUS_PACKAGES[*]}"
  exit 0
fi

# install_missing [apt-get install options...] -- packages...
install_missing() {
  local options=() missing=() p
  while [ "$1" != "--" ]; do options+=("$1"); shift; done
  shift
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # No package starts a service while setup installs it (invoke-rc.d asks policy-rc.d).
  local policy=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    policy=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' > "$policy"
    chmod 755 "$policy"
  fi
  local rc=0
  apt-get -o DPkg::Lock::Timeout=900 install -y -q "${options[@]}" "${missing[@]}" || rc=$?
  [ -z "$policy" ] || rm -f "$policy"
  return "$rc"
}
install_missing -- "${PACKAGES[@]}"
install_missing --no-install-recommends -- "${CORPUS_PACKAGES[@]}"

# Debian's postgresql makes a "main" cluster and would start it at boot: setup leaves no running
# database server (scripts/check-setup-services.sh), so every cluster is stopped and set to
# manual start. The tests and the benchmark run their own server in a private folder.
if command -v pg_lsclusters >/dev/null 2>&1; then
  pg_lsclusters -h 2>/dev/null | while read -r version cluster _ status _; do
    conf=/etc/postgresql/$version/$cluster/start.conf
    if [ -f "$conf" ] && ! grep -qx 'manual\|disabled' "$conf"; then
      echo manual > "$conf"
    fi
    case "$status" in online*) pg_ctlcluster "$version" "$cluster" stop ;; esac
  done
  if [ -d /run/systemd/system ]; then
    systemctl disable --now postgresql.service >/dev/null 2>&1 || true
  fi
fi

# Wine maps the ANSI code page from the locale: zh_CN.UTF-8 gives code page 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  sed -i 's/^# *zh_CN.UTF-8/zh_CN.UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
echo "setup: ok"
