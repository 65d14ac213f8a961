#!/usr/bin/env bash
# Installs the Debian 12 packages Kalvex needs, for one purpose:
#   --for run   building the program and running it (what scripts/run.sh needs)
#   --for test  the above, and every tool the test suite, the fuzz targets and the README's
#               screenshot use (what scripts/test.sh and CI need); the default
#   --list run|test   prints the packages of that purpose, one a line, and installs nothing
# Safe to run again: apt-get skips what is already there. Needs root (or sudo).
# What building needs is debian/control's Build-Depends, what running needs its Depends and
# Recommends: a package for those goes there, not here. Only the tools of the tests are named below.
set -euo pipefail

control="$(dirname "$0")/../debian/control"

# The relations of one field of debian/control, one a line ("cmake (>= 3.25)"), comments and
# substitution variables (${shlibs:Depends}, filled in by the package build) left out.
relations() {
  awk -v field="$1" '
    /^#/ { next }
    /^[^ \t]/ { on = (index($0, field ":") == 1); if (on) { sub("^[^:]*:", ""); print } ; next }
    on { print }
  ' "$control" | tr ',' '\n' | sed 's/^[[:space:]]*//; s/[[:space:]]*$//' | { grep -v -e '^$' -e '^\$' || true; }
}

# Building: the package's Build-Depends, the one list of what building needs, and the compiler
# and dpkg's tools that every Debian build takes for granted.
mapfile -t build < <(echo build-essential; relations Build-Depends)

# Running: what the package depends on by name and recommends (what the program uses at run time
# without linking it: Qt's translations, fonts, xdg-utils); what it links comes with the build's
# packages. And the users' locale (generated below).
mapfile -t run < <(relations Depends; relations Recommends; echo locales)

# Testing: a real X server with clicks, keys and screenshots; the install check's validators;
# the exposition parser of the /metrics tests; the fuzz targets' compiler and runtime; the MQTT
# broker of the publisher's tests and openssl for the certificates of its TLS test; OWFS's owserver
# and its shell tools, the peers of the owserver bus's and the owserver side's tests and
# benchmarks; the package's checker (and debootstrap for its clean root) and the metainfo's and
# manual page's.
test=(
  git sqlite3 curl
  xvfb xauth xdotool imagemagick
  desktop-file-utils systemd
  python3 python3-prometheus-client
  chromium
  clang libclang-rt-14-dev
  mosquitto openssl
  owserver ow-shell
  lintian appstream man-db debootstrap
)

purpose=test
list_only=0
while [ "$#" -gt 0 ]; do
  case "$1" in
    --for) purpose="${2:-}"; shift 2 ;;
    --for=*) purpose="${1#--for=}"; shift ;;
    --list) list_only=1; purpose="${2:-}"; shift 2 ;;
    *) echo "install-deps: unknown argument $1 (use --for run|test)" >&2; exit 2 ;;
  esac
done
case "$purpose" in
  run) packages=("${build[@]}" "${run[@]}") ;;
  test) packages=("${build[@]}" "${run[@]}" "${test[@]}") ;;
  *) echo "install-deps: --for run or --for test, not '$purpose'" >&2; exit 2 ;;
esac

if [ "$list_only" -eq 1 ]; then
  printf '%s\n' "${packages[@]}" | sed 's/[[:space:](\[<].*//'
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
# Called before anything is installed: a user without sudo is told what to do in one line.
need_root() {
  if [ -n "$SUDO" ] && ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps: packages must be installed: run this as root, or install sudo (as root: apt-get install sudo) and add yourself to the sudo group" >&2
    exit 1
  fi
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q ' installed$'; }
# Test peers whose Debian packages set up a system service (started now and at every boot).
services=(mosquitto owserver)
declare -A before=()
for service in "${services[@]}"; do
  if installed "$service"; then before[$service]=1; fi
done

# Whatever apt would have to install for these relations (none when all are there; a machine
# whose package lists are missing or stale counts as missing something).
if ! plan=$(apt-get -s -q satisfy "${packages[@]}" 2>/dev/null) || grep -q '^Inst ' <<<"$plan"; then
  need_root
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get satisfy -y -q --no-install-recommends "${packages[@]}"
else
  echo "install-deps: every package to $purpose is installed"
fi

# The users' locale: a Russian system writes decimal commas, and the tests run in it. Without
# the generated locale LANG=ru_RU.UTF-8 silently falls back to C.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  need_root
  $SUDO sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi

# The tests start their own broker and owserver on free ports. The services Debian's packages
# set up are switched off again when this script brought them in; one the machine had before
# is left as it was.
for service in "${services[@]}"; do
  if [ -z "${before[$service]:-}" ] && installed "$service"; then
    if command -v systemctl >/dev/null 2>&1; then
      $SUDO systemctl disable --now "$service.service" >/dev/null 2>&1 || $SUDO systemctl disable "$service.service" >/dev/null 2>&1 || true
    fi
    if [ -x "/etc/init.d/$service" ]; then
      $SUDO update-rc.d "$service" disable >/dev/null 2>&1 || true
      $SUDO invoke-rc.d "$service" stop >/dev/null 2>&1 || true
    fi
    echo "install-deps: $service, which the tests use, is installed but not running, and does not start at boot"
  fi
done
