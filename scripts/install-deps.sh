#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Kalvex needs.
# Safe to run again: apt-get skips what is already there. Needs root (or sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  qt6-multimedia-dev libqt6multimedia6 qt6-qpa-plugins
  libqcustomplot-dev
  libmicrohttpd-dev
  qcoro-qt6-dev
  libsqlite3-dev sqlite3
  libjpeg62-turbo libqt6svg6
  fonts-dejavu-core fonts-dejavu-extra
  xdg-utils desktop-file-utils
  xvfb xauth xdotool imagemagick
  locales
  curl
  python3 python3-prometheus-client systemd
  chromium
  clang libclang-rt-14-dev
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: every package is installed"
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
