#!/bin/sh
# The Windows bundler under Wine, started from this POSIX shell with its
# standard output, then its standard error, redirected by the shell into the
# output file. Such handles may refuse Windows their file identity; the run
# must still be refused with status 1, and the file must hold nothing but
# the refusal.
#
#   wine_redirection.sh <Wine prefix> <icon-bundler.exe> <icon file> <scratch folder>
set -u
prefix=$1 program=$2 icon=$3 work=$4
run="$(cd "$(dirname "$0")/../cmake" && pwd)/wine-run.sh"
rm -rf "$work"
mkdir -p "$work" && cd "$work" || exit 1
cp "$icon" a.ico
failed=0

# expect <case> <status> <file that must be empty> <file with the refusal> <stream>
expect() {
  if [ "$2" != 1 ]; then
    echo "$1: exit status $2, not 1" >&2
    failed=1
  fi
  if [ -s "$3" ]; then
    echo "$1: $3 is not empty:" >&2
    cat "$3" >&2
    failed=1
  fi
  refusal=$(tr -d '\r' <"$4")
  case "$refusal" in
    "## ERROR: output file is also $5" | "## ERROR: can't tell whether the output file is $5") ;;
    *)
      echo "$1: not the refusal: $refusal" >&2
      failed=1
      ;;
  esac
}

status=0
sh "$run" "$prefix" "$program" -o so.ico a.ico >so.ico 2>err.txt || status=$?
expect "standard output" "$status" so.ico err.txt "standard output"

status=0
sh "$run" "$prefix" "$program" -o se.ico a.ico >out.txt 2>se.ico || status=$?
expect "standard error" "$status" out.txt se.ico "standard error"

exit $failed
