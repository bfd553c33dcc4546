#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing for a task:
#   deps.sh run    - build and run the program
#   deps.sh test   - also everything the whole test run needs
#   deps.sh bench  - also gst-play-1.0, which the CPU benchmark measures against
set -euo pipefail

run_packages=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools zlib1g-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libebur128-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-alsa
  fonts-wqy-microhei
)
test_packages=(
  clang-14 libclang-rt-14-dev
  dpkg-dev file desktop-file-utils appstream
  dbus-daemon dbus-session-bus-common
  qt6-base-dev qt6-5compat-dev
  xvfb at-spi2-core python3-pyatspi
  pulseaudio pulseaudio-utils
)

packages=("${run_packages[@]}")
if [ "${1:-run}" = test ] || [ "${1:-run}" = bench ]; then
  packages+=("${test_packages[@]}")
fi
if [ "${1:-run}" = bench ]; then
  packages+=(gstreamer1.0-plugins-base-apps)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
