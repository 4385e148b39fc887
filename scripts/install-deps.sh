#!/usr/bin/env bash
# Installs with apt-get, on Debian 12, what Morvane needs and is missing, as
# root or through sudo.
#   install-deps.sh            what building and running need
#   install-deps.sh --tests    and what the tests need (FFmpeg and mkvinfo read
#                              the movies)
#   install-deps.sh --package  and what building the Debian package needs
#   install-deps.sh --windows  and what the Windows cross build and its run
#                              under Wine need (mingw-w64, GoogleTest's
#                              sources, wine64)
#   install-deps.sh --web      and what the web page's build and its browser
#                              tests need (Emscripten, node and npm, Chromium)
#   install-deps.sh --ci       everything CI runs: tests, package checks,
#                              sound server, sanitizers, fuzzing, Xvfb, the
#                              Windows leg, the web page
set -euo pipefail
build=(cmake ninja-build g++ pkg-config libvpx-dev libopus-dev libsoxr-dev libcli11-dev qt6-base-dev qt6-multimedia-dev libgl-dev help2man librsvg2-bin fonts-liberation2)
tests=(libgtest-dev libgmock-dev ffmpeg mkvtoolnix)
package=(dpkg-dev file)
windows=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine64)
web=(emscripten nodejs chromium python3)
# ccache: test-readme.sh runs the README's own build commands in a fresh clone
# through it, so their builds share what they compile.
ci=(ccache clang-format pulseaudio pulseaudio-utils clang libclang-rt-14-dev lintian desktop-file-utils appstream man-db
  bash-completion xvfb dbus at-spi2-core python3-pyatspi)
packages=("${build[@]}")
case "${1:-}" in
  "") ;;
  --tests) packages+=("${tests[@]}") ;;
  --package) packages+=("${package[@]}") ;;
  --windows) packages+=("${windows[@]}") ;;
  --web) packages+=("${web[@]}") ;;
  --ci) packages+=("${tests[@]}" "${package[@]}" "${ci[@]}" "${windows[@]}" "${web[@]}") ;;
  *)
    echo "usage: install-deps.sh [--tests | --package | --windows | --web | --ci]" >&2
    exit 2
    ;;
esac
# npm comes inside some builds of nodejs, which Debian's npm package conflicts with.
case "${1:-}" in --web | --ci) command -v npm >/dev/null || packages+=(npm) ;; esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps.sh: these packages are missing and sudo is not there to install them:" >&2
    echo "  ${missing[*]}" >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
