#!/usr/bin/env bash
# The demo behind `make demo`: starts quarvane-sim with its sample inventory
# on a free loopback port, runs the qvctl walkthrough against it, and stops
# the daemon again, whatever happens on the way. The library's trace file
# goes to a temporary folder, where `qvctl log` reads it.
#
#   tools/demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
sim="$build/tools/quarvane-sim/quarvane-sim"
qvctl="$build/tools/qvctl/qvctl"
for exe in "$sim" "$qvctl"; do
  [ -x "$exe" ] || { echo "demo: $exe is not built (run make build)" >&2; exit 1; }
done

work=$(mktemp -d)
pid=""
stop() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop EXIT

# The library traces into <Path>/log when that folder exists.
mkdir "$work/log"
printf '[Parameters]\nPath=%s\n' "$work" > "$work/parameters.ini"
export QUARVANE_PARAMETERS="$work/parameters.ini"

"$sim" --port 0 --state-file "$work/state.json" >"$work/sim.out" 2>"$work/sim.err" </dev/null &
pid=$!

port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on .*:\([0-9][0-9]*\)$/\1/p' "$work/sim.out")
  [ -n "$port" ] && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/sim.err" >&2; echo "demo: quarvane-sim did not start" >&2; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "demo: quarvane-sim did not report its port" >&2; exit 1; }
echo "quarvane-sim (pid $pid) listening on 127.0.0.1:$port"

QVCTL="$qvctl" tools/qvctl/walkthrough.sh 127.0.0.1 "$port"
echo
echo "demo finished; stopping quarvane-sim"
