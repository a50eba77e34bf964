#!/usr/bin/env bash
# Sanitizer builds, clang 14:
#  1. ASan+UBSan (preset asan): everything with the fuzz targets, then every test;
#  2. each fuzz target from its seed corpus and dictionary until RVT_FUZZ_RUNS runs (1 M) or
#     RVT_FUZZ_SECONDS (60 s), two at a time; any finding fails the step, its input is kept in
#     build/asan/fuzz-runs/<target>/;
#  3. ThreadSanitizer (preset tsan): the tests that use the host's worker thread.
set -euo pipefail
cd "$(dirname "$0")/../.."

export RVT_FUZZ_RUNS=${RVT_FUZZ_RUNS:-1000000}
export RVT_FUZZ_SECONDS=${RVT_FUZZ_SECONDS:-60}
symbolizer=$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)
if [[ -n "$symbolizer" ]]; then
  export ASAN_SYMBOLIZER_PATH=$symbolizer TSAN_SYMBOLIZER_PATH=$symbolizer
fi
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

step=$SECONDS
cmake --workflow --preset asan
asan_s=$((SECONDS - step))

# One fuzz target: new inputs go to a scratch folder, the seed corpus is only read.
fuzz_one() {
  local target=$1 dict=fuzz/parse.dict status=0 start=$SECONDS
  case $target in
    frame) dict=fuzz/frame.dict ;;
    cycle) dict=fuzz/cycle.dict ;;
    history) dict=fuzz/history.dict ;;
  esac
  local dir=build/asan/fuzz-runs/$target
  mkdir -p "$dir/new"
  "build/asan/fuzz/fuzz_$target" -runs="$RVT_FUZZ_RUNS" -max_total_time="$RVT_FUZZ_SECONDS" \
    -dict="$dict" -timeout=10 -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$dir/" \
    "$dir/new" "fuzz/corpus/$target" > "$dir/log" 2>&1 || status=$?
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  echo "fuzz_$target: ${runs:-?} runs in $((SECONDS - start)) s"
  if ((status != 0)); then
    echo "fuzz_$target: finding (exit $status); input and log in $dir/"
    tail -n 40 "$dir/log"
  fi
  return "$status"
}
export -f fuzz_one

step=$SECONDS
rm -rf build/asan/fuzz-runs
fuzz_status=0
xargs -P 2 -I{} bash -c 'fuzz_one {}' < build/asan/fuzz/targets.txt || fuzz_status=$?
fuzz_s=$((SECONDS - step))

step=$SECONDS
tsan_status=0
cmake --workflow --preset tsan || tsan_status=$?
tsan_s=$((SECONDS - step))

echo "sanitizers: asan build and tests ${asan_s} s, fuzzing ${fuzz_s} s, tsan build and tests ${tsan_s} s"
if ((fuzz_status != 0)); then
  echo "sanitizers: a fuzz target had a finding"
  exit 1
fi
exit "$tsan_status"
