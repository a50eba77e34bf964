#!/usr/bin/env bash
# CI beyond the test command: every step in scripts/ci.d, in name order (sanitizer builds,
# fuzzing, soak, fault injection, target toolchains, the README's commands on a fresh root).
# Each step is a script that fails on a finding; the times of all steps close the output.
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
times=()
current=""
report() {
  [[ -n "$current" ]] && times+=("  ${current}: FAILED after $((SECONDS - start)) s")
  printf '%s\n' "CI steps:" "${times[@]}" "  total: $((SECONDS - all)) s"
}
all=$SECONDS
trap report EXIT
for step in scripts/ci.d/*.sh; do
  echo "=== ${step} ==="
  start=$SECONDS
  current=$step
  bash "$step"
  current=""
  echo "=== ${step}: $((SECONDS - start)) s ==="
  times+=("  ${step}: $((SECONDS - start)) s")
done
