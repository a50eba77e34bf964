#!/usr/bin/env bash
# The first command: installs what is missing from Debian 12, builds the plugin and the bench
# host, and runs the bench host for five rounds against the simulated power system of
# examples/scenarios/default.json (examples/sim-site.json), printing a summary per round.
# Further arguments go to zelhost, e.g. --rounds 8, --trace or --events -.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
echo "Building the plugin and the bench host in build/default..."
cmake --preset default >/dev/null
cmake --build --preset default --target zelhost rvt2600

# The summary goes to standard output; the log lines of the plugin and the host, and what the
# plugin prints for itself, go to a file (shown here if the run fails).
rounds=(--rounds 5)
for arg in "$@"; do [[ "$arg" == --rounds* ]] && rounds=(); done
log=build/default/sim-run.log
echo "Polling the simulated site of examples/scenarios/default.json (rounds are 2 s apart)..."
if build/default/zelhost/zelhost --config examples/sim-site.json "${rounds[@]}" "$@" 2>"$log"; then
  echo "Log lines and the plugin's own output: $log"
else
  status=$?
  tail -n 20 "$log" >&2
  exit "$status"
fi
