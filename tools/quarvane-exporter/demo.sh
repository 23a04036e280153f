#!/usr/bin/env bash
# The demo behind `make demo-exporter`: quarvane-sim with its sample
# inventory and two protections, quarvane-exporter before it, and what one
# scrape of /metrics answers. Both daemons are stopped again, whatever
# happens on the way.
#
#   tools/quarvane-exporter/demo.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."

build="${1:-build}"
sim="$build/tools/quarvane-sim/quarvane-sim"
exporter="$build/tools/quarvane-exporter/quarvane-exporter"
qvctl="$build/tools/qvctl/qvctl"
for exe in "$sim" "$exporter" "$qvctl"; do
  [ -x "$exe" ] || { echo "demo: $exe is not built (run make build)" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
stop() {
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop EXIT

# Starts a daemon that says "listening on ADDRESS:PORT" once ready; its port.
start() {
  local name=$1; shift
  "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null &
  pids+=($!)
  for _ in $(seq 100); do
    port=$(sed -n 's/^listening on .*:\([0-9][0-9]*\)$/\1/p' "$work/$name.out")
    [ -n "$port" ] && return
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/$name.err" >&2
  echo "demo: $name did not start" >&2
  exit 1
}

# One protection mirrored with a snapshot, one still synchronising, both
# in a group.
start quarvane-sim "$sim" --port 0 --rate 8192
sim_port=$port
export QVCTL_HOST=127.0.0.1 QVCTL_PORT=$sim_port
"$qvctl" mirror enable Harddisk1:2 Harddisk3:1
"$qvctl" mirror wait Harddisk1:2
"$qvctl" snapshot take --wait Harddisk1:2
"$qvctl" mirror enable --copy-limit 64 Harddisk1:1 Harddisk3:2
"$qvctl" group create Projects
"$qvctl" group add Projects Harddisk1:1 Harddisk1:2

# The login comes from a file only its owner may read.
printf 'user=admin\npassword=secret\n' >"$work/login"
chmod 600 "$work/login"
start quarvane-exporter "$exporter" --listen 127.0.0.1:0 --target "127.0.0.1:$sim_port" \
  --credentials "$work/login"
echo "quarvane-exporter listening on 127.0.0.1:$port, reading quarvane-sim on 127.0.0.1:$sim_port"
echo "--- GET /metrics"
python3 -c 'import sys, urllib.request; sys.stdout.write(urllib.request.urlopen(sys.argv[1]).read().decode())' \
  "http://127.0.0.1:$port/metrics"
