#!/usr/bin/env bash
# Installs the Debian 12 packages Kalvex needs, for one purpose:
#   --for run   building the program and running it (what scripts/run.sh needs)
#   --for test  the above, and every tool the test suite, the fuzz targets and the README's
#               screenshot use (what scripts/test.sh and CI need); the default
#   --list run|test   prints the packages of that purpose, one a line, and installs nothing
# Safe to run again: apt-get skips what is already there. Needs root (or sudo).
set -euo pipefail

# Building: the compiler, CMake, and the headers and libraries the program links.
build=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  qt6-multimedia-dev
  libqcustomplot-dev
  libmicrohttpd-dev
  qcoro-qt6-dev
  libsqlite3-dev
  # Readings to an MQTT broker (Home Assistant).
  libmosquitto-dev
  # The program asks the X server itself whether a window can be opened.
  libxcb1-dev
  # Qt's CMake files look for it at every configure.
  libxkbcommon-dev
)

# Running: what the program uses at run time that the build does not bring.
run=(
  # The X window system's platform plugin (a window at all), the multimedia back end.
  qt6-qpa-plugins libqt6multimedia6
  # JPEG backgrounds, read by Qt's image reader.
  libjpeg62-turbo
  # Cyrillic in the window, also offscreen; the condensed faces of the temperature labels.
  fonts-dejavu-core fonts-dejavu-extra
  # Opening alarm documents and applications.
  xdg-utils
  # The users' locale (generated below).
  locales
)

# Testing: a real X server with clicks, keys and screenshots; the install check's validators;
# the exposition parser of the /metrics tests; the fuzz targets' compiler and runtime.
test=(
  git sqlite3 curl
  xvfb xauth xdotool imagemagick
  desktop-file-utils systemd
  python3 python3-prometheus-client
  chromium
  clang libclang-rt-14-dev
  # The MQTT tests and benchmark start a real broker on a loopback port.
  mosquitto
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
  printf '%s\n' "${packages[@]}"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: every package to $purpose is installed"
else
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The users' locale: a Russian system writes decimal commas, and the tests run in it. Without
# the generated locale LANG=ru_RU.UTF-8 silently falls back to C.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  $SUDO sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi
