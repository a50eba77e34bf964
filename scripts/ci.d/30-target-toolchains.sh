#!/usr/bin/env bash
# The toolchain file beyond the mipsel preset (the test command has built and tested that one,
# its packages included):
#  1. a second compiler: clang 14 for mipsel-linux-gnu with Debian's cross files and GNU ld,
#     building the plugin and the tests of the plugin and the root device, run under qemu, and
#     its plugin loaded by the GCC-built host program of the mipsel preset;
#  2. the plain configure, `cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake`, with no
#     preset's options: it must succeed, leaving out with one line what has no target library;
#  3. a soft-float configure against Debian's hard-float root must fail, and say why.
set -euo pipefail
cd "$(dirname "$0")/../.."

toolchain=cmake/toolchain-mipsel.cmake

start=$SECONDS
clang_dir=build/mipsel-clang
cmake -S . -B "$clang_dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVT_BUILD_TOOLS=OFF > /dev/null
cmake --build "$clang_dir" --target rvt2600_stripped plugin_test plugin_load root_test
ctest --test-dir "$clang_dir" --output-on-failure -j 2 \
  -R '^(plugin_|Providers|RootConfigTest|RootAllocation|FakeCycle|RealCycle)'
# Type information, dynamic_cast and the C++ runtime across the two compilers.
mipsel=${RVT_MIPSEL_BUILD:-build/mipsel}
[[ -f "$mipsel/CMakeCache.txt" ]] || cmake --preset mipsel -B "$mipsel" > /dev/null
cmake --build "$mipsel" --target plugin_load
qemu-mipsel -L / "$mipsel/tests/plugin/plugin_load" "$clang_dir/plugin/librvt2600.so"
echo "clang 14 mipsel: build and tests under qemu $((SECONDS - start)) s"

plain_dir=build/mipsel-plain
rm -rf "$plain_dir"
plain_log=$(mktemp)
cmake -DCMAKE_TOOLCHAIN_FILE="$toolchain" -S . -B "$plain_dir" > "$plain_log"
left_out=$(grep -c '^-- Left out of the mipsel build' "$plain_log" || true)
if ((left_out > 1)); then
  echo "plain configure: more than one line about what is left out:"
  grep '^-- Left out' "$plain_log"
  exit 1
fi
grep '^-- Left out' "$plain_log" || echo "plain configure: nothing left out"
rm -f "$plain_log"

soft_dir=$(mktemp -d)
if cmake -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DRVT_FLOAT_ABI=soft -S . -B "$soft_dir" \
     > "$soft_dir.log" 2>&1; then
  echo "soft-float configure against Debian's hard-float root succeeded; it must fail"
  exit 1
fi
if ! grep -q 'RVT_FLOAT_ABI=soft' "$soft_dir.log"; then
  echo "soft-float configure failed without saying why:"
  tail -n 20 "$soft_dir.log"
  exit 1
fi
rm -rf "$soft_dir" "$soft_dir.log"
echo "soft-float configure fails as it should"
