#!/usr/bin/env bash
# The Windows leg of CI: morvane-cli.exe and the GoogleTest suites of the
# core and the passes cross-built with mingw-w64, linked statically; the
# suites run under Wine; then make-demo and convert are run by the Windows
# and by the Linux build in a folder whose path holds non-ASCII letters and
# blanks, and every file they write must be the same bytes: the WAVs, and the
# movies of a stream of films written by the Linux build's make-film-stream.
#   ci-windows.sh [LINUX-BUILD-DIR]   (default: $MORVANE_BUILD_DIR or build/)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVANE_WINDOWS_BUILD_DIR:-$top/build-windows}
linux_build=${1:-${MORVANE_BUILD_DIR:-$top/build}}
# The round trip runs the Linux programs from other folders.
linux_build=$(cd "$linux_build" 2>/dev/null && pwd || echo "$linux_build")
linux_cli=$linux_build/src/cli/morvane-cli
film_stream=$linux_build/tests/make-film-stream
bash "$top/scripts/install-deps.sh" --windows
[ -x "$linux_cli" ] && [ -x "$film_stream" ] || {
  echo "ci-windows.sh: no Linux build of morvane-cli and make-film-stream (tests on) in $linux_build to compare with" >&2
  exit 1
}

# A prefix of its own, made before the suites start side by side; one Wine
# server kept for the whole run.
work=$(mktemp -d)
export WINEPREFIX="$work/wine"
wine() { "$top/scripts/wine-run.sh" "$@"; }
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
cleanup() {
  WINEPREFIX="$work/wine" "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cmake --no-warn-unused-cli -S "$top" -B "$build" -G Ninja --toolchain "$top/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  >/dev/null
cmake --build "$build" -j"$(nproc)"
exe=$build/src/cli/morvane-cli.exe

# Nothing but Windows' own DLLs: no libstdc++, libgcc or winpthread beside it.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print tolower($3) }')
for dll in $dlls; do
  case "$dll" in
    kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll | ntdll.dll | ws2_32.dll) ;;
    *)
      echo "ci-windows.sh: morvane-cli.exe needs $dll, which Windows does not bring" >&2
      exit 1
      ;;
  esac
done

mkdir -p "$WINEPREFIX"
"$wineserver" -p
wine wineboot --init >/dev/null 2>&1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

# The round trip: the same commands by both builds, side by side.
place="$work/wïn tést/démo files"
mkdir -p "$place/linux" "$place/windows"
stream="démo ü.str"
films="fîlms.str"
together="fîlms together.str"
"$film_stream" "$place/linux/$films"
"$film_stream" "$place/linux/$together" --together
cp "$place/linux/$films" "$place/linux/$together" "$place/windows/"
(
  cd "$place/linux"
  "$linux_cli" make-demo "$stream"
  "$linux_cli" convert --keep-sound --map "$stream" "$films" "$together" >names
  "$linux_cli" convert -o "out folder" "$stream" "$films" >/dev/null
  # A disc image: the demo disc, made and converted whole.
  "$linux_cli" make-demo --disc "dísc.iso"
  "$linux_cli" convert "dísc.iso" >/dev/null
)
(
  cd "$place/windows"
  wine "$exe" make-demo "$stream"
  # Windows' text mode ends each printed line with a carriage return.
  wine "$exe" convert --keep-sound --map "$stream" "$films" "$together" | tr -d '\r' >names
  wine "$exe" convert -o "out folder" "$stream" "$films" >/dev/null
  wine "$exe" make-demo --disc "dísc.iso"
  wine "$exe" convert "dísc.iso" >/dev/null
  # A whole Windows path too, with a drive letter and backslashes.
  wine "$exe" convert -o "out folder" "$(wine winepath -w "$place/windows/$stream" | tr -d '\r')" >/dev/null
  # The Windows build has no VP9 or Opus encoder: --webm is refused before
  # anything is written.
  if wine "$exe" convert --webm "$stream" >/dev/null 2>"$work/webm-refusal"; then status=0; else status=$?; fi
  if [ "$status" -ne 2 ] || ! grep -q -- '--webm: not in this build' "$work/webm-refusal"; then
    echo "ci-windows.sh: convert --webm gave exit $status, not 2 and \"not in this build\":" >&2
    cat "$work/webm-refusal" >&2
    exit 1
  fi
)
if ! diff -u "$place/linux/names" "$place/windows/names"; then
  echo "ci-windows.sh: the Windows build printed other names than the Linux build" >&2
  exit 1
fi
(cd "$place/linux" && find . -type f ! -name names | sort) >"$work/linux-files"
(cd "$place/windows" && find . -type f ! -name names | sort) >"$work/windows-files"
if ! diff -u "$work/linux-files" "$work/windows-files"; then
  echo "ci-windows.sh: the Windows build wrote other files than the Linux build" >&2
  exit 1
fi
grep -q 'sound.wav' "$work/linux-files" && grep -q 'film.mkv' "$work/linux-files" || {
  echo "ci-windows.sh: the round trip wrote no WAV or no movie" >&2
  exit 1
}
while read -r file; do
  cmp "$place/linux/$file" "$place/windows/$file"
done <"$work/linux-files"
echo "Windows leg: $(wc -l <"$work/linux-files") files written alike by morvane-cli.exe under Wine and on Linux"
