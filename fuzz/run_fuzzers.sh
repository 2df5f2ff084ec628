#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while, two at a time.
#
#   fuzz/run_fuzzers.sh SECONDS [BUILD_DIR] [TARGET...]
#
# Each target starts from its generated seeds plus the corpus that earlier
# runs left in BUILD_DIR/runs/corpus/TARGET. An allocation above the malloc
# limit, a process above the RSS limit, a slow input, a sanitizer report or
# a failed check each count as a finding: the input is kept in
# BUILD_DIR/runs/artifacts/TARGET/ and the script exits 1. To keep a fixed
# finding as a test, copy it to tests/regress/<fault>.<target>.
set -euo pipefail

seconds=${1:?usage: run_fuzzers.sh SECONDS [BUILD_DIR] [TARGET...]}
build=${2:-build/fuzz}
shift $(($# < 2 ? $# : 2))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(records inspector bundler lint pack extract image)
runs=$build/runs

run_target() {
  local target=$1
  local corpus=$runs/corpus/$target seeds=$runs/seeds/$target artifacts=$runs/artifacts/$target
  rm -rf "$seeds"
  mkdir -p "$corpus" "$artifacts"
  "$build/fuzz/make_seeds" "$target" "$seeds"
  # The records are read from the first 62 bytes; longer inputs add nothing.
  local max_len=8192
  [ "$target" != records ] || max_len=128
  "$build/fuzz/fuzz_$target" "$corpus" "$seeds" \
    -max_total_time="$seconds" -malloc_limit_mb=64 -rss_limit_mb=1024 -timeout=10 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$artifacts/" >"$runs/$target.log" 2>&1
}

# The figures of a finished run: executions, coverage and features.
report() {
  local target=$1 status=$2 log=$runs/$1.log
  local execs last
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  if [ "$status" -eq 0 ]; then
    printf '%-10s ok      %s executions, %s\n' "$target" "${execs:-?}" "${last:-?}"
  else
    printf '%-10s FAILED  (status %s), log %s\n' "$target" "$status" "$log"
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$log" | head -20 || true
  fi
}

mkdir -p "$runs"
failed=0
declare -A pid_of
for target in "${targets[@]}"; do
  # At most two at a time: wait for one to finish before starting a third.
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do
    wait -n || true
    sleep 0.1
  done
  run_target "$target" &
  pid_of[$target]=$!
done
for target in "${targets[@]}"; do
  status=0
  wait "${pid_of[$target]}" || status=$?
  report "$target" "$status"
  [ "$status" -eq 0 ] || failed=1
done
exit $failed
