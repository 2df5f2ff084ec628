#!/usr/bin/env bash
# Makes the packages twice, each by `cmake --workflow --preset package` in its
# own clone of the last commit at a different path, and checks that the two
# .deb files and the two .tar.gz files are the same bytes. Both clones lie
# on the same file system: CPack counts the sizes of folders into the .deb's
# Installed-Size, and those differ between kinds of file system.
#
#   tests/package/check_reproducible.sh [scratch folder]
#
# The scratch folder (default: a new one under TMPDIR) is removed at the end
# unless it was given.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if [ $# -gt 0 ]; then
  work=$1
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/icon-tools-reproducible.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi

# Two paths of different lengths, so that a build path left in a binary
# would also shift everything after it.
clones=("$work/a/icon-tools" "$work/second-build/icon-tools")
for clone in "${clones[@]}"; do
  rm -rf "$clone"
  git clone --quiet "$source_dir" "$clone"
  (cd "$clone" && cmake --workflow --preset package >"$clone.log" 2>&1) || {
    cat "$clone.log"
    echo "FAILED: cmake --workflow --preset package in $clone"
    exit 1
  }
done

shopt -s nullglob
packages=("${clones[0]}"/build/package/*.deb "${clones[0]}"/build/package/*.tar.gz)
if [ ${#packages[@]} -ne 2 ]; then
  echo "FAILED: expected one .deb and one .tar.gz in ${clones[0]}/build/package"
  exit 1
fi
status=0
for package in "${packages[@]}"; do
  name=${package##*/}
  if cmp "$package" "${clones[1]}/build/package/$name"; then
    echo "same bytes: $name"
  else
    echo "DIFFERENT: $name"
    status=1
  fi
done
exit $status
