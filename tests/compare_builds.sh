#!/usr/bin/env bash
# Runs the programs of the native build and of the cross builds over the same
# icon files and checks that each cross build gives byte for byte the native
# standard output, standard error, exit status, bundle, packed icon and
# extracted files, and the image layer's encoded images of fixed inputs and
# the sizes icon-pack makes from a master PNG (as PNG and as bitmaps, in sRGB
# and linear light):
#
#   tests/compare_builds.sh build/dev [build/windows] [build/s390x]
#
# The inputs are the examples, the regression inputs, the native build's
# generated seed corpora and, when there are any, the fuzz corpora (those for
# the inspector only: a bundle of arbitrary files can be gigabytes long), and
# for icon-extract the Windows programs the native build's tests made. The
# programs of a Windows build run under Wine (its lines end in CR LF, read as
# LF), those of an s390x build under qemu-user.
set -euo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 <native build> <cross build> [cross build ...]" >&2
  exit 2
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
native=$(cd "$1" && pwd)
shift

qemu=$(command -v qemu-s390x-static || command -v qemu-s390x || true)
work=$(mktemp -d)
# A Windows build's runs share one Wine session, ended with the script.
end() {
  local build
  for build in "$@"; do
    if [ -d "$build/wine" ]; then WINEPREFIX="$(cd "$build" && pwd)/wine" wineserver -k 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap 'end "$@"' EXIT
mkdir "$work/in"

# Every input under a short name of its own, so that the command lines stay
# far below the 32,767 characters of a Windows command line.
shopt -s nullglob
n=0
add_inputs() {
  local file
  for file in "$@"; do
    [ -f "$file" ] || continue
    n=$((n + 1))
    cp "$file" "$work/in/$(printf 'f%05d' "$n")"
  done
}
add_inputs "$source_dir"/examples/*.ico "$source_dir"/examples/*.cur "$source_dir"/tests/regress/*.*
add_inputs "$native"/tests/seeds/*/*
bundled=$n
add_inputs "$source_dir"/build/fuzz/runs/corpus/*/*
# icon-extract's seeds and corpus start with a byte of options: without it.
for file in "$native"/tests/seeds/extract/* "$source_dir"/build/fuzz/runs/corpus/extract/*; do
  [ -f "$file" ] || continue
  n=$((n + 1))
  tail -c +2 "$file" >"$work/in/$(printf 'f%05d' "$n")"
done
inputs=(); for ((i = 1; i <= n; i++)); do inputs+=("$(printf 'f%05d' "$i")"); done
# icon-pack's inputs: the example PNG files and icons, by absolute path, as it
# runs in each build's own folder (its summary names its output).
cp "$source_dir"/examples/icon-*.png "$work/in/"
cp "$source_dir"/examples/logo-512.png "$work/logo-512.png"
# The examples are f00001 to f00005: damaged, palette, png, truecolor, pointer.
packed=("$work"/in/*.png "$work/in/f00002" "$work/in/f00003" "$work/in/f00004")
# icon-extract's: the example icons and library, and the Windows programs
# that the native build made of the examples with MinGW-w64's tools.
mkdir "$work/pe"
cp "$source_dir"/examples/*.dll "$native"/tests/pe-samples/*.exe "$native"/tests/pe-samples/*.dll "$work/pe/" 2>/dev/null || true
programs=("$work"/pe/*)
examples=("$work"/in/f0000[1-5] "${programs[@]}")
if [ "$bundled" -eq 0 ]; then
  echo "no inputs: run the native build's tests first (they make the seed corpora)" >&2
  exit 2
fi

# run <build> <name> <program> <argument ...>: the program's standard output,
# standard error and status in $work/<build>/<name>.{out,err,status}.
run() {
  local build=$1 name=$2 program=$3
  shift 3
  local folder="$work/$(basename "$build")"
  mkdir -p "$folder"
  local command=()
  case "$(basename "$build")" in
    windows) command=(sh "$source_dir/cmake/wine-run.sh" "$build/wine" "$build/$program.exe") ;;
    s390x) command=("$qemu" "$build/$program") ;;
    *) command=("$build/$program") ;;
  esac
  local status=0
  (cd "${run_folder:-$work/in}" && "${command[@]}" "$@" >"$folder/$name.out" 2>"$folder/$name.err") || status=$?
  echo "$status" >"$folder/$name.status"
  if [ "$(basename "$build")" = windows ]; then
    local stream
    for stream in out err; do
      # Every line end must be CR LF; compared as LF.
      if [ "$(tr -cd '\n' <"$folder/$name.$stream" | wc -c)" != "$(grep -c $'\r$' "$folder/$name.$stream" || true)" ]; then
        echo "$build: $name: a line of standard $stream does not end in CR LF" >&2
        return 1
      fi
      sed -i 's/\r$//' "$folder/$name.$stream"
    done
  fi
}

# The runs, for one build; the bundles go to the build's own folder.
runs() {
  local build=$1
  local folder="$work/$(basename "$build")"
  mkdir -p "$folder"
  local chunk
  for ((chunk = 0; chunk * 400 < n; chunk++)); do
    run "$build" "inspect$chunk" icon-inspector "${inputs[@]:chunk*400:400}"
    run "$build" "lint$chunk" icon-lint "${inputs[@]:chunk*400:400}"
  done
  run "$build" lint-json icon-lint --format=json --require-sizes=16,32 "${inputs[@]:0:5}"
  # The machine formats and the readers' tables, which decode every image.
  run "$build" lint-sarif icon-lint --format=sarif "${inputs[@]:0:400}"
  run "$build" lint-github icon-lint --format=github "${inputs[@]:0:400}"
  run "$build" lint-readers icon-lint --readers "${inputs[@]:0:400}"
  run "$build" lint-readers-json icon-lint --readers --format=json "${inputs[@]:0:400}"
  run "$build" bundle icon-bundler -o "$folder/bundle.ico" "${inputs[@]:0:bundled}"
  run "$build" bundle-examples icon-bundler -o "$folder/examples.ico" "${inputs[@]:0:5}" missing.ico
  run "$build" no-arguments icon-inspector
  run_folder=$folder run "$build" pack-examples icon-pack -o packed.ico "${packed[@]}"
  run_folder=$folder run "$build" pack-refused icon-pack -o packed.ico "${packed[@]}" "$work/in/f00001"
  run_folder=$folder run "$build" pack-mixed icon-pack -o mixed.cur "$work/in/f00005" "${packed[@]}"
  # Sizes made from one master: every Windows size as PNG, then bitmaps
  # (some of them) in linear light, beside kept sizes.
  run_folder=$folder run "$build" pack-made icon-pack -o made.ico --sizes=windows "$work/logo-512.png"
  run_folder=$folder run "$build" pack-made-bitmap icon-pack -o made-bitmap.ico --sizes=16,24,32,48,256 \
    --bitmap=16,24,48 --linear "$work/logo-512.png" "$work/in/icon-32.png"
  # The image layer on fixed images: shrunk to every icon size in sRGB and
  # linear light, encoded as PNG and as bitmaps.
  mkdir -p "$folder/image-samples"
  run "$build" image-samples tests/image_samples write "$folder/image-samples"
  mkdir -p "$folder/extracted" "$folder/extracted-png" "$folder/extracted-all"
  run_folder=$folder run "$build" extract-examples icon-extract -d extracted "${examples[@]}"
  run_folder=$folder run "$build" extract-png icon-extract --png --format=json -d extracted-png "${programs[@]}"
  run_folder=$folder run "$build" extract-again icon-extract -d extracted "${examples[@]}"
  local paths
  for ((chunk = 0; chunk * 400 < n; chunk++)); do
    paths=("${inputs[@]:chunk*400:400}")
    run_folder=$folder run "$build" "extract$chunk" icon-extract -d extracted-all "${paths[@]/#/$work/in/}"
  done
}

runs "$native"
# The cross builds' runs side by side, each under its own emulator.
builds=()
pids=()
for build in "$@"; do
  builds+=("$(cd "$build" && pwd)")
  runs "${builds[-1]}" &
  pids+=($!)
done
failed=0
for i in "${!builds[@]}"; do
  build=${builds[$i]}
  if ! wait "${pids[$i]}"; then
    failed=1
    continue
  fi
  if diff -r -q "$work/$(basename "$native")" "$work/$(basename "$build")" >/dev/null; then
    echo "$(basename "$build"): identical to $(basename "$native") over $n files ($bundled bundled):" \
      "$(find "$work/$(basename "$build")" -type f | wc -l) files of output, exit status, bundles and files extracted"
  else
    echo "$(basename "$build") differs from $(basename "$native"):" >&2
    diff -r -q "$work/$(basename "$native")" "$work/$(basename "$build")" >&2 || true
    failed=1
  fi
done
exit $failed
