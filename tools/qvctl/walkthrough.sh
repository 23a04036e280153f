#!/usr/bin/env bash
# A walk through qvctl against a running service: list the disks, protect a
# partition by a mirror, follow its first synchronisation, read its
# statistics, verify it, suspend and resume it, and remove it again.
#
#   walkthrough.sh [HOST [PORT]]
#
# HOST defaults to 127.0.0.1 and PORT to 11580. The login comes from
# QVCTL_USER and QVCTL_PASSWORD (admin and secret, the stand-in daemon's
# defaults, when unset). QVCTL names the qvctl to run (default: qvctl on the
# PATH); PRIMARY and MIRROR the partitions to use (default: those of the
# stand-in daemon's sample inventory).
set -euo pipefail

export QVCTL_HOST="${1:-${QVCTL_HOST:-127.0.0.1}}"
export QVCTL_PORT="${2:-${QVCTL_PORT:-11580}}"
export QVCTL_USER="${QVCTL_USER:-admin}"
export QVCTL_PASSWORD="${QVCTL_PASSWORD:-secret}"
qvctl="${QVCTL:-qvctl}"
primary="${PRIMARY:-Harddisk1:1}"
mirror="${MIRROR:-Harddisk3:2}"

# Shows a command, then runs it.
run() {
  printf '\n$ qvctl %s\n' "$*"
  "$qvctl" "$@"
}

echo "qvctl walkthrough against ${QVCTL_HOST}:${QVCTL_PORT}"
run disks
run mirror enable "$primary" "$mirror"
# A new protection starts with a full synchronisation: follow it.
run mirror sync "$primary" --progress --wait
run mirror stat "$primary"
run mirror verify "$primary" --wait
run mirror suspend "$primary"
run mirror resume "$primary"
run mirror list
run mirror disable "$primary"
run mirror list
