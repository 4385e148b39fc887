#!/bin/sh
# morvane-cli's --help and --version for help2man, each usage form after the
# first marked "or:" as help2man reads a synopsis. $1 is the program.
program=$1
shift
"$program" "$@" | sed '2,/^$/ s/^ *morvane-cli /   or: morvane-cli /'
