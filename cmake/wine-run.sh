#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh <prefix folder> <program> [argument ...]
# (the windows preset's CMAKE_CROSSCOMPILING_EMULATOR).
#
# The first call starts one Wine session for every later one: a persistent
# wine server and Wine's background services, with their standard streams on
# /dev/null. Started by a test instead, they would hold the test's pipes open
# after it ended, and ctest would wait for them; a running session also
# starts each program in a tenth of a second instead of three. End it with
#   WINEPREFIX=<prefix folder> wineserver -k
set -eu
WINEPREFIX=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export WINEPREFIX
shift
export WINEDEBUG=-all
# Host file names and arguments in UTF-8, whatever the caller's locale.
export LC_ALL=C.UTF-8
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

mkdir -p "$WINEPREFIX"
(
  flock 9
  if ! wineserver -k0 2>/dev/null; then
    # The server and the services outlive this script: none may keep its lock.
    wineserver -p </dev/null >/dev/null 2>&1 9>&-
    wine wineboot --init </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX.lock"

exec wine "$@"
