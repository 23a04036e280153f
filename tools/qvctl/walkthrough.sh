#!/usr/bin/env bash
# A walk through qvctl against a running service: list the disks, protect a
# partition by a mirror, watch the overview, follow the first
# synchronisation, verify, suspend (twice: the second is already done) and
# resume, put it in a group and snapshot the group, meet a refusal and read
# it back from the library's trace file, and remove the protection again.
#
#   walkthrough.sh [HOST [PORT]]
#
# HOST defaults to 127.0.0.1 and PORT to 11580. On a loopback host qvctl
# logs in with quarvane-sim's sample login; elsewhere set QVCTL_USER and
# QVCTL_PASSWORD. QVCTL names the qvctl to run (default: qvctl on the
# PATH); PRIMARY and MIRROR the partitions to use (default: those of the
# stand-in daemon's sample inventory).
set -euo pipefail

export QVCTL_HOST="${1:-${QVCTL_HOST:-127.0.0.1}}"
export QVCTL_PORT="${2:-${QVCTL_PORT:-11580}}"
qvctl="${QVCTL:-qvctl}"
primary="${PRIMARY:-Harddisk1:1}"
mirror="${MIRROR:-Harddisk3:2}"

# Shows a command, then runs it; a failure shows its exit status and the
# walk goes on.
run() {
  printf '\n$ qvctl %s\n' "$*"
  local status=0
  "$qvctl" "$@" || status=$?
  if [ "$status" -ne 0 ]; then echo "(exit status $status)"; fi
}

echo "qvctl walkthrough against ${QVCTL_HOST}:${QVCTL_PORT}"
run disks
run disks -H -p -o object,size,role --kind disks
run mirror enable "$primary" "$mirror"
run status
# A new protection starts with a full synchronisation: follow it.
run mirror wait "$primary"
run mirror stat "$primary" -o state,condition,synced,protected,copy_rate,syncs_completed
run mirror verify "$primary" --wait
run mirror suspend "$primary"
run mirror suspend "$primary"
run mirror resume "$primary"
# A group of protections: snapshot every member at once.
run mirror wait "$primary"
run group create Nightly
run group add Nightly "$primary"
run group snapshot Nightly --wait
run group stat Nightly
run status
run group delete Nightly --yes
# A refusal: the service's words, exit status 5, and an entry in the trace.
run mirror stat Harddisk1:3
run log --since 10m
run mirror disable "$primary" --yes
run status -j
