#!/usr/bin/env bash
# Installs what the project needs to build, test and run, on Debian 12, when missing.
# Safe to run again: it only calls apt-get when a package is not installed yet.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libfmt-dev libexpat1-dev libxapian-dev xapian-tools
  curl tinyproxy-bin wamerican python3 iso-codes
  libcurl4-openssl-dev libproxy-dev libproxy1-plugin-gsettings
  libmagic-dev poppler-utils antiword catdoc unrtf odt2txt docx2txt unzip
  qt6-base-dev libgl-dev libx11-dev fonts-dejavu-core
  libsqlite3-dev libcrypt-dev
  xvfb openbox dbus-daemon at-spi2-core xdotool x11-utils imagemagick
  python3-gi gir1.2-atspi-2.0 gir1.2-gtk-3.0 xclip libatspi2.0-dev trayer
  help2man file desktop-file-utils gdb
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
