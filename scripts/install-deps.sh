#!/usr/bin/env bash
# Installs what Morvane needs to build, test and run on Debian 12, when it is missing.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev qt6-multimedia-dev libgl-dev libgtest-dev libgmock-dev
  pulseaudio pulseaudio-utils xvfb fonts-liberation2 clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
