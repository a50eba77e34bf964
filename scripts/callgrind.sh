#!/usr/bin/env bash
# Instructions per round, per reply and per value query on the reference site, counted by
# callgrind in one run of rvt2600-probe (x86-64, the build's optimisation): the whole piece, the
# stand-in host's share of it run alone, the plugin's (the difference), and for the pieces with
# an AC analog reply, the share of the AC unit's three flushed diagnostic lines.
# Usage: scripts/callgrind.sh [BUILD_DIR] [ITERATIONS]   (build/default, 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
n=${2:-1000}
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
fi
cmake --build "$build" --target rvt2600-probe > /dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out/cg.out" \
  "$build/bench/rvt2600-probe" "$n" 2> "$out/stderr" || { cat "$out/stderr"; exit 1; }
grep -v '^==' "$out/stderr" || true

# Each dump names what it measured ("reply_40_41/1000") and its instruction total; "X@host" is
# the stand-in host's share of X run alone, "X@shut" is X with standard output failed (without
# the AC unit's flushed diagnostic lines).
declare -A per
order=()
for k in $(seq 1 "$(ls "$out" | grep -c '^cg.out.[0-9]')"); do
  f="$out/cg.out.$k"
  name=$(sed -n 's/^desc: Trigger: Client Request: //p' "$f")
  total=$(sed -n 's/^\(totals\|summary\): \([0-9]*\).*/\2/p' "$f" | head -n 1)
  [[ -n "$name" && -n "$total" ]] || continue
  piece=${name%/*}
  per[$piece]=$(( total / ${name##*/} ))
  [[ $piece == *@* ]] || order+=("$piece")
done

printf '%-26s %10s %10s %10s\n' "instructions per run" "whole" "host" "plugin"
for piece in "${order[@]}"; do
  whole=${per[$piece]}
  if [[ -n "${per[$piece@host]:-}" ]]; then
    host=${per[$piece@host]}
    printf '%-26s %10s %10s %10s\n' "$piece" "$whole" "$host" "$(( whole - host ))"
  else
    printf '%-26s %10s\n' "$piece" "$whole"
  fi
  if [[ -n "${per[$piece@shut]:-}" ]]; then
    printf '%-26s %10s %10s %10s\n' "  of it the AC unit's lines" "" "" \
      "$(( whole - ${per[$piece@shut]} ))"
  fi
done
