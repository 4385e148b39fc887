#!/usr/bin/env bash
# Checks an installed Morvane where a desktop and a user look for it: the two
# programs on the PATH, a stream converted to WAVs from there, the launcher
# entry and its command, the icon in every size, the AppStream metadata, the
# manual pages, the completion of morvane-cli and the copyright file.
#   check-installed.sh [PREFIX]      default /usr, where the package installs
set -uo pipefail
prefix=${1:-/usr}
id=io.github.morvane.Morvane
share=$prefix/share
failures=0
ok() { echo "ok: $*"; }
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect() { # expect DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PATH=$prefix/bin:$PATH

# The programs, found where the menu entry and a shell look.
for program in morvane morvane-cli; do
  expect "$program is $prefix/bin/$program" test "$(command -v "$program")" = "$prefix/bin/$program"
done
version=$(morvane-cli --version)
expect "morvane-cli --version prints a version: $version" grep -Eq '^morvane-cli [0-9]+\.[0-9]+\.[0-9]+$' <<<"$version"
if [ "$prefix" = /usr ] && dpkg-query -W morvane >/dev/null 2>&1; then
  package_version=$(dpkg-query -W -f='${Version}' morvane)
  expect "the package's version $package_version is the program's" test "$version" = "morvane-cli $package_version"
fi

# A stream to WAVs and a movie from the installed program, each WAV a playable 16-bit stereo file
# at the demo's rate.
(cd "$work" && morvane-cli make-demo demo.str >/dev/null && morvane-cli convert demo.str >written.txt 2>errors.txt)
expect "morvane-cli convert succeeds" test $? -eq 0
expect "convert names the movie and the two WAVs it wrote" diff <(sort "$work/written.txt") \
  <(printf '%s\n' demo.str0.film.mkv demo.str0.sound.wav demo.str1.sound.wav)
if command -v ffprobe >/dev/null; then
  streams=$(ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$work/demo.str0.film.mkv")
  expect "demo.str0.film.mkv holds the 320x240 Cinepak film and its sound ($(tr '\n' ' ' <<<"$streams"))" \
    test "$streams" = $'cinepak,320,240\npcm_s16le'
fi
for n in 0 1; do
  wav=$work/demo.str$n.sound.wav
  header=$(/usr/bin/python3 - "$wav" <<'PY'
import os, struct, sys
data = open(sys.argv[1], "rb").read(44)
riff, riff_size, wave, fmt, _, pcm, channels, rate, _, _, bits, tag, data_size = struct.unpack("<4sI4s4sIHHIIHH4sI", data)
size = os.path.getsize(sys.argv[1])
print(riff == b"RIFF" and wave == b"WAVE" and riff_size == size - 8 and pcm == 1 and channels == 2
      and bits == 16 and tag == b"data" and data_size == size - 44 and data_size > 0, rate)
PY
  )
  expect "demo.str$n.sound.wav is a whole stereo 16-bit WAV at 22050 Hz ($header)" test "$header" = "True 22050"
done

# The launcher entry: valid, its command on the PATH, its icon installed.
entry=$share/applications/$id.desktop
expect "the launcher entry $entry is valid" desktop-file-validate "$entry"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
expect "the entry's command \"$exec_line\" is $prefix/bin/morvane" test "$(command -v "${exec_line%% *}")" = "$prefix/bin/morvane"
expect "the entry names the icon $id" grep -qx "Icon=$id" "$entry"
expect "the scalable icon" grep -q '<svg' "$share/icons/hicolor/scalable/apps/$id.svg"
for size in 16 22 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x$size/apps/$id.png
  expect "the icon at $size px" grep -q "PNG image data, $size x $size," <(file "$png")
done

# The AppStream metadata: valid offline, launching the entry above, with a screenshot.
metainfo=$share/metainfo/$id.metainfo.xml
expect "the metadata $metainfo is valid" appstreamcli validate --no-net "$metainfo"
expect "the metadata launches $id.desktop" grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo"
expect "the metadata shows a screenshot" grep -q '<screenshot type="default">' "$metainfo"

# The manual pages, as man finds and shows them.
for program in morvane morvane-cli; do
  page=$share/man/man1/$program.1.gz
  expect "the manual page $page" test -f "$page"
  if [ "$prefix" = /usr ]; then
    expect "man -w $program finds it" test "$(man -w "$program" 2>/dev/null)" = "$page"
  fi
  shown=$(MANWIDTH=80 MANPAGER=cat man --warnings -l "$page" 2>"$work/man-errors.txt")
  expect "man shows $program's page without warnings" test ! -s "$work/man-errors.txt"
  expect "$program's page names it" grep -q "^NAME" <<<"$shown"
  expect "lexgrog reads $program's NAME line" grep -q ": \"$program - " <(lexgrog "$page")
  # The synopsis under SYNOPSIS, nothing of it spilt into DESCRIPTION.
  synopsis=$(sed -n '/^SYNOPSIS/,/^[A-Z]/{/^ /p}' <<<"$shown")
  expect "$program's SYNOPSIS starts each line with the program" \
    test -n "$synopsis" -a -z "$(grep -v "^ *$program\( \|\$\)" <<<"$synopsis")"
  expect "$program's DESCRIPTION holds no usage line" test -z "$(sed -n '/^DESCRIPTION/,/^[A-Z]/p' <<<"$shown" | grep -E 'or: |FILE\.\.\.$')"
  expect "$program's page lists the movies in FILES" grep -q 'FILEN\.film\.mkv' <(sed -n '/^FILES/,/^[A-Z]/p' <<<"$shown")
done
expect "morvane-cli's page tells of convert" grep -q "^CONVERT" <(MANPAGER=cat man -l "$share/man/man1/morvane-cli.1.gz")

# The completion of morvane-cli, as bash-completion loads it.
completion=$share/bash-completion/completions/morvane-cli
complete_words() { # complete_words WORD... : what the completion offers for the last word
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$0"
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _morvane_cli morvane-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"' "$completion" morvane-cli "$@"
}
expect "the completion offers convert for \"con\"" test "$(complete_words con)" = convert
expect "the completion offers --rate after wav" test "$(complete_words wav intro.sound --ra)" = --rate
expect "the completion offers rates after --rate" grep -qx 22050 <(complete_words convert --rate "")

expect "the copyright file holds the MIT licence" grep -q '^License: MIT' "$share/doc/morvane/copyright"

if [ "$failures" -gt 0 ]; then
  echo "$failures checks of the installed tree failed" >&2
  exit 1
fi
echo "the installed tree passes every check"
