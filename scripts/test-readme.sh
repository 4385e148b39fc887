#!/usr/bin/env bash
# Runs the README's command lines as a new user on a fresh Debian meets them,
# as root, in a fresh clone of the committed tree: the Install section's
# lines (their root forms: a line that begins with "sudo" is the same command
# for a user with sudo), then the first example (it runs once installed, as
# its own line says), then the command lines of Use; every one must succeed.
# Lines that open the window or serve the page (run-window.sh, run-web.sh)
# are left out, as they only end when the user closes them; the Windows lines
# stand under Develop, which is not read.
#
# Speed: the lines build the whole program twice (build-deb/ by package.sh,
# build/ from source), most of an hour on a 2-core machine from nothing.
# Rather than run other commands than the README's (reusing a built tree would
# need other paths than a clone's), the compiler goes through ccache with the
# clone as its base folder, through CMake's launcher variables: the second
# build takes the first's objects, and a later run of this test all of them.
# What the lines do and write is unchanged.
#
# It installs the package and /usr/local's files as the README does; on a
# machine that is no throw-away one, MORVANE_README_CLEANUP=1 removes them
# again afterwards (the package only when it was not installed before).
#   test-readme.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "test-readme.sh: the README's root forms are run: run this as root" >&2
  exit 2
fi

# The command lines of a section ("" for the lines before the first "## "):
# its indented code lines, left out what never ends and the sudo forms.
section_lines() {
  awk -v want="$1" '
    /^## / { section = substr($0, 4); next }
    section == want && /^    [^ ]/ { print substr($0, 5) }
  ' "$top/README.md" | grep -Ev '^sudo |scripts/run-(window|web)\.sh'
}

work=$(mktemp -d)
clone=$work/morvane
had_package=no
dpkg-query -W -f='${Status}' morvane 2>/dev/null | grep -q "install ok installed" && had_package=yes
cleanup() {
  if [ "${MORVANE_README_CLEANUP:-0}" = 1 ]; then
    if [ -f "$clone/build/install_manifest.txt" ]; then xargs -d '\n' rm -f <"$clone/build/install_manifest.txt"; fi
    if [ "$had_package" = no ]; then apt-get remove -y -qq morvane >/dev/null 2>&1 || true; fi
  fi
  rm -rf "$work"
}
trap cleanup EXIT
git clone --quiet "$top" "$clone"

{
  echo 'set -euxo pipefail'
  section_lines Install
  section_lines ""
  section_lines Use
} >"$work/lines.sh"
count=$(grep -vc '^set ' "$work/lines.sh")
[ "$count" -ge 10 ] || {
  echo "test-readme.sh: only $count command lines found in README.md" >&2
  exit 1
}
echo "test-readme.sh: running $count lines of README.md in $clone"
start=$(date +%s)
(
  cd "$clone"
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$clone CCACHE_NOHASHDIR=1
  export DEBIAN_FRONTEND=noninteractive
  bash "$work/lines.sh"
)
echo "test-readme.sh: every line succeeded, in $(($(date +%s) - start)) s"
