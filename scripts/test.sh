#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every test twice: natively,
# and for the controller (32-bit MIPS little-endian) under qemu-user.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --mipsel --browser

summary=()
for preset in default mipsel; do
  log="build/${preset}-test.log"
  mkdir -p build
  start=$SECONDS
  cmake --workflow --preset "$preset" 2>&1 | tee "$log"
  # ctest ends with "100% tests passed, 0 tests failed out of N".
  count=$(sed -n 's/.*tests failed out of \([0-9]\+\).*/\1/p' "$log" | tail -n 1)
  summary+=("${preset}: ${count:-0} tests run, all passed ($((SECONDS - start)) s)")
done

# Every test runs on the target too: one that runs natively only is a defect, and fails here.
list() { ctest --test-dir "build/$1" -N | sed -n 's/^ *Test *#[0-9]*: //p' | sort; }
native_only=$(comm -23 <(list default) <(list mipsel))
printf '%s\n' "${summary[@]}"
if [[ -n "$native_only" ]]; then
  echo "native only: $(wc -l <<<"$native_only") tests:"
  sed 's/^/  /' <<<"$native_only"
  exit 1
fi
