#!/usr/bin/env bash
# Builds the Debian package morvane_VERSION_ARCH.deb with CPack.
#   package.sh               in a build folder of its own (MORVANE_PACKAGE_BUILD_DIR,
#                            default build-deb), without tests or benchmarks
#   package.sh --build DIR   from a build folder already configured (CI
#                            packages the folder its tests ran in)
# Prints the package's path on its last line.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVANE_PACKAGE_BUILD_DIR:-$top/build-deb}
configure=yes
if [ "${1:-}" = "--build" ]; then
  build=$(cd "${2:?package.sh --build DIR}" && pwd)
  configure=""
fi
bash "$top/scripts/install-deps.sh" --package
if [ -n "$configure" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BUILD_TESTS=OFF \
    -DMORVANE_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"${MORVANE_JOBS:-$(nproc)}"
rm -f "$build"/morvane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/morvane_*.deb)
[ -f "${debs[0]}" ] || {
  echo "package.sh: cpack made no package" >&2
  exit 1
}
echo "${debs[0]}"
