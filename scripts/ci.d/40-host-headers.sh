#!/usr/bin/env bash
# The plugin against host declarations other than the stand-in's host/ (RVT_HOST_INCLUDE_DIR):
# the tests' second header sets, tests/hostsets/ (its README says how they differ).
#  1. layout/: the plugin and the stand-in host's bodies built against it pass the unit, root,
#     cycle, plugin and layout-table tests, natively and for mipsel under qemu; the layout table
#     of its build is not the stand-in's;
#  2. names/: the plugin alone (tools and tests off, the default build target) builds natively
#     and for mipsel, exports only get_providers and names only the runtime as NEEDED.
set -euo pipefail
cd "$(dirname "$0")/../.."

toolchain=cmake/toolchain-mipsel.cmake
layout=$PWD/tests/hostsets/layout
names=$PWD/tests/hostsets/names
# The test programs of the plugin and of the stand-in host; nothing else of the tree is built.
programs=(frame_test ac_test rc_test dc_test root_test plugin_test host_test host_layout_test)
targets=("${programs[@]}" plugin_load rvt2600_stripped host-layout host-layout-standin host-layout-layout
  host-layout-names)
times=()
timed() {
  local label=$1 start=$SECONDS
  shift
  "$@"
  times+=("${label} $((SECONDS - start)) s")
}

# The gtest suites of those programs (run natively) and the script tests of the plugin and
# the layout table.
tests_regex() {
  local dir=$1 suites program match=()
  for program in "${programs[@]}"; do match+=(-name "$program" -o); done
  suites=$(find "$dir/tests" -type f \( "${match[@]}" -false \) -exec {} --gtest_list_tests \; |
             sed -n 's/^\([A-Za-z0-9_]*\)\.$/\1/p' | sort -u | paste -sd '|')
  echo "^((${suites})\\.|plugin_(exports|needed|load|version)|host_layout_(program|sets)|host_includes)"
}

# The build's layout table (from its integrator text) against the stand-in's.
differs_from_standin() {
  local dir=$1 prefix=$2 ours theirs
  ours=$(sed -n '/^host layout/,/^end of host layout/p' "$dir/stripped/INTEGRATION.txt")
  theirs=$($prefix "$dir/tests/hostlayout/host-layout-standin")
  if [[ "$ours" == "$theirs" ]]; then
    echo "$dir: the layout set's table equals the stand-in's"
    return 1
  fi
  echo "$dir: layout table differs from the stand-in's in" \
    "$(diff <(echo "$ours") <(echo "$theirs") | grep -c '^<') rows"
}

layout_set() {
  local dir=$1 prefix=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVT_HOST_INCLUDE_DIR="$layout" \
    -DRVT_BUILD_TOOLS=OFF "$@" > /dev/null
  cmake --build "$dir" --target "${targets[@]}"
  [[ -n "$regex" ]] || regex=$(tests_regex "$dir")
  ctest --test-dir "$dir" --output-on-failure -j 2 -R "$regex"
  differs_from_standin "$dir" "$prefix"
}

names_set() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRVT_HOST_INCLUDE_DIR="$names" \
    -DRVT_BUILD_TOOLS=OFF -DRVT_BUILD_TESTS=OFF "$@" > /dev/null
  cmake --build "$dir"
  local readelf
  readelf=$(sed -n 's/^CMAKE_READELF:FILEPATH=//p' "$dir/CMakeCache.txt")
  for check in exports needed; do
    cmake -DREADELF="$readelf" -DLIBRARY="$dir/plugin/librvt2600.so" -DCHECK=$check \
      -P tests/plugin/check_plugin.cmake
  done
}

regex=""  # from the native build, then the same tests under qemu
timed "layout set, native" layout_set build/hostset-layout ""
timed "layout set, mipsel under qemu" layout_set build/hostset-layout-mipsel "qemu-mipsel -L /" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain"
timed "names set, native" names_set build/hostset-names
timed "names set, mipsel" names_set build/hostset-names-mipsel -DCMAKE_TOOLCHAIN_FILE="$toolchain"

echo "second host header sets:"
printf '  %s\n' "${times[@]}"
