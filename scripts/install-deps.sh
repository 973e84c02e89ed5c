#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package that building, running and testing Tavrel Lite needs.
# Idempotent: packages already present are left as they are. Run as root (or via sudo).
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-charts-dev libqt6opengl6-dev
  qt6-translations-l10n qt6-l10n-tools libqt6svg6 qt6-qpa-plugins
  libgl-dev libxkbcommon-dev
  libssl-dev libcpp-httplib-dev libmicrohttpd-dev openssl
  qtkeychain-qt6-dev gnome-keyring dbus dbus-x11 libsecret-tools
  xvfb xauth x11-utils xdg-utils
  tinyproxy squid apache2-utils trayer xdotool
  lintian appstream desktop-file-utils help2man poppler-utils
  curl sqlite3 libsqlite3-dev python3 python3-pil
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
