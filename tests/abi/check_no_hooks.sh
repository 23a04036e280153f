#!/usr/bin/env bash
# The shipped library carries no test hook: no entry point and no state of
# the allocation failures, the debug output sink, the clock or the wait
# clock, not even as a
# local symbol.
set -euo pipefail
lib=$1
symbols=$(nm -C "$lib")
hooks=$(grep -E 'alloc_fault|ForTesting|g_armed|g_fail_at|g_sticky|g_sink|g_clock|g_wait_hooks|SinkSlot' <<<"$symbols" || true)
if [ -n "$hooks" ]; then
  echo "test hooks in $lib:"
  echo "$hooks"
  exit 1
fi
# The symbol table is there to look into: an empty one would prove nothing.
grep -q 'qv::GetLocalTime' <<<"$symbols" || { echo "$lib has no symbol table to check"; exit 1; }
echo "no test hooks in $lib"
