#!/usr/bin/env bash
# Makes the .deb as the package preset does, in a folder of its own and with
# warnings as errors, and runs Debian's package checker on it: any error or
# warning fails, and so does any hardening tag (lintian shows those as
# information only). Only what the package holds is built (the target
# package_contents), and the build folder is kept, so a later run compiles
# only what changed.
#
#   tests/package/check_lintian.sh <source folder> <scratch folder>
#
# Exit status 77 (a skipped test) when lintian is not installed.
set -euo pipefail
source_dir=$1
work=$2

if ! command -v lintian >/dev/null; then
  echo "lintian is not installed (Debian package: lintian)"
  exit 77
fi

mkdir -p "$work"
rm -f "$work"/build/*.deb "$work/lintian.txt"
log=$work/build.log
# cpack would build everything first, unless told to skip it.
(cd "$source_dir" && cmake --preset package -B "$work/build" -DICON_WERROR=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON) >"$log" 2>&1 &&
  cmake --build "$work/build" --parallel 2 --target package_contents >>"$log" 2>&1 &&
  (cd "$work/build" && cpack -G DEB) >>"$log" 2>&1 || {
  cat "$log"
  echo "FAILED: the package could not be made"
  exit 1
}

debs=("$work"/build/*.deb)
status=0
lintian --fail-on error,warning --display-info "${debs[@]}" >"$work/lintian.txt" 2>&1 || status=1
cat "$work/lintian.txt"
if grep -q ' hardening-' "$work/lintian.txt"; then
  echo "FAILED: the programs lack hardening"
  status=1
fi
if [ $status -eq 0 ]; then
  echo "lintian passes ${debs[*]##*/}"
fi
exit $status
