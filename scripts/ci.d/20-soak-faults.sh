#!/usr/bin/env bash
# Long runs of the reference site, each failing the step on any violation:
#  1. the soak in process: 100 000 rounds on the virtual clock with line noise, every image
#     against the simulator's truth, every damaged reply dropped, resident memory growing by
#     at most 64 KiB after round 1 000;
#  2. the line faults over a pty: 1 000 rounds through the bench host's serial link with 1 % of
#     the replies losing a byte and 1 % a bit;
#  3. the soak under valgrind (memcheck): 10 000 rounds, no errors, no bytes definitely or
#     indirectly lost; built with clang 14 and DWARF 4 debug information, which Debian's
#     valgrind 3.19 reads;
#  4. the benchmarks once, briefly, so that they keep running (figures: docs/performance.md).
set -euo pipefail
cd "$(dirname "$0")/../.."

native=${RVT_NATIVE_BUILD:-build/default}
valgrind_dir=${RVT_VALGRIND_BUILD:-build/valgrind}
times=()
timed() {
  local label=$1 start=$SECONDS
  shift
  "$@"
  times+=("${label} $((SECONDS - start)) s")
}

# The test command has built the native preset already; this only fills in what is missing.
[[ -f "$native/CMakeCache.txt" ]] || cmake --preset default -B "$native" > /dev/null
timed "native build" cmake --build "$native" --target rvt2600-soak rvt2600-line-faults rvt2600-bench

timed "soak 100000 rounds" "$native/soak/rvt2600-soak" --rounds 100000 --rss-limit-kib 64 --rss-from 1000
timed "line faults 1000 rounds" "$native/soak/rvt2600-line-faults" --rounds 1000 \
  --drop-percent 1 --flip-percent 1 --reply-timeout-ms 200 --gap-ms 50

valgrind_build() {
  cmake -S . -B "$valgrind_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_C_FLAGS=-gdwarf-4 -DCMAKE_CXX_FLAGS=-gdwarf-4 \
    -DRVT_BUILD_TESTS=OFF -DRVT_BUILD_TOOLS=OFF -DRVT_BENCH=OFF > /dev/null
  cmake --build "$valgrind_dir" --target rvt2600-soak
}
timed "valgrind build" valgrind_build
timed "soak 10000 rounds under valgrind" valgrind --error-exitcode=1 --leak-check=full \
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
  "$valgrind_dir/soak/rvt2600-soak" --rounds 10000 --rss-limit-kib 0

timed "benchmarks briefly" "$native/bench/rvt2600-bench" --benchmark_min_time=0.01

echo "soak and line faults:"
printf '  %s\n' "${times[@]}"
