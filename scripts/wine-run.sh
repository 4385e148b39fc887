#!/usr/bin/env bash
# Runs a Windows program under Wine, headless and quiet: ctest's emulator for
# the Windows build, and the Windows leg of CI. WINEPREFIX may name the
# prefix to use (made on first use); by default one of this user's own.
set -euo pipefail
export WINEPREFIX=${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/morvane-wine}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko to be asked for, and no window to open.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
exec "$wine" "$@"
