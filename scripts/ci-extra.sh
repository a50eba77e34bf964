#!/usr/bin/env bash
# CI beyond the test command: every step in scripts/ci.d, in name order (sanitizer builds,
# fuzzing, soak, fault injection, benchmarks). Each step is a script that fails on a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
shopt -s nullglob
for step in scripts/ci.d/*.sh; do
  echo "=== ${step} ==="
  start=$SECONDS
  bash "$step"
  echo "=== ${step}: $((SECONDS - start)) s ==="
done
