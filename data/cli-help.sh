#!/bin/sh
# morvane-cli's --help and --version for help2man. The overview's exit status
# becomes a section of its own; after it, each command's own help becomes a
# section of the page ("*convert*" starts the CONVERT section), its usage
# line left to the synopsis, which has it already, and its headings named
# after the command. Each example is marked with "$ " and set apart, so that
# it stays a line of its own. $1 is the program.
program=$1
shift
if [ "$1" != --help ]; then
  exec "$program" "$@"
fi
examples='s/^  morvane-cli \(.*\)/  $ morvane-cli \1\n/'
"$program" --help | sed -e 's/^Exit status: /*Exit status*\n\n/' -e "$examples" || exit
for command in convert analyze extract wav list unpack make-demo; do
  printf '\n*%s*\n\n' "$command"
  "$program" help "$command" | sed -e '1,/^$/d' -e "$examples" \
    -e "s/^\\(Options\\|Examples\\|Example\\):\$/\\1 of $command:/" || exit
done
