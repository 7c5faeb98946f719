#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing for the given purpose: "run" (build and
# play) or "test" (also the test, benchmark and end-to-end tools).
set -euo pipefail

run_packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libsdl2-dev libpipewire-0.3-dev libpulse-dev libsndfile1-dev libsoxr-dev
  fonts-dejavu-core fonts-liberation
)
test_packages=(
  googletest libgtest-dev libgmock-dev libsamplerate0-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-utils x11-xserver-utils xdotool openbox imagemagick dbus-daemon dbus-bin jq
  pulseaudio pulseaudio-utils pipewire pipewire-bin wireplumber pipewire-pulse
  desktop-file-utils appstream dpkg-dev file
)

packages=("${run_packages[@]}")
[ "${1:-run}" = test ] && packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
