#!/usr/bin/env bash
# Installs everything Vorsk needs to build, test and run on Debian 12.
# Safe to run again: packages already present are skipped by apt.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qtbase5-dev qtbase5-dev-tools qttools5-dev-tools qtmultimedia5-dev
  libqt5charts5-dev
  libqt5multimedia5-plugins
  qt5-style-plugins fonts-wine fonts-dejavu-core
  libopenblas-dev libssl-dev
  python3-aiosmtpd
  libsensors-dev umockdev libumockdev-dev
  librsvg2-bin desktop-file-utils appstream xvfb xauth trayer
  xdotool imagemagick
  yamllint shellcheck python3-yaml
  slurm-wlm munge
  lintian devscripts qttranslations5-l10n
  dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
