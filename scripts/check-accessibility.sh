#!/usr/bin/env bash
# Opens the window under Xvfb with the accessibility bus on and reads it as a
# screen reader does (scripts/accessibility_check.py): every control's name,
# then an Analyze File of a demo stream driven through the bus, the gauge's
# value and the labels' texts.
#   check-accessibility.sh            the installed program, started with the
#                                     Exec line of its launcher entry
#   check-accessibility.sh BUILD_DIR  the programs of a build folder
# MORVANE_A11Y_DISPLAY picks the X display (default :94).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
id=io.github.morvane.Morvane
if [ $# -gt 0 ]; then
  build=$(cd "$1" && pwd)
  window=$build/src/app/morvane
  cli=$build/src/cli/morvane-cli
else
  entry=/usr/share/applications/$id.desktop
  window=$(sed -n 's/^Exec=//p' "$entry")
  cli=$(command -v morvane-cli)
fi
display=${MORVANE_A11Y_DISPLAY:-:94}
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb tells the display's number on a descriptor once it takes connections;
# -noreset keeps it from restarting when the accessibility bus's launcher,
# its first client, leaves (the window would then find no display).
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset -displayfd 3 3>"$work/ready" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/ready" ] && break; kill -0 "$xvfb_pid" 2>/dev/null || break; sleep 0.1; done
if [ ! -s "$work/ready" ]; then
  echo "check-accessibility.sh: Xvfb did not start on $display:" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi
"$cli" make-demo "$work/demo.str" >/dev/null
DISPLAY=$display NO_AT_BRIDGE=0 dbus-run-session -- \
  /usr/bin/python3 "$top/scripts/accessibility_check.py" --window "$window" --cli "$cli" --stream "$work/demo.str"
