#!/usr/bin/env bash
# Runs the fuzzer of a fuzz build on every target for a while and prints,
# per target, how many inputs it ran and how fast.
#
#   fuzz/run_fuzzers.sh <build-fuzz/fuzz> <seconds per target> [parallel runs]
#   fuzz/run_fuzzers.sh --smoke <fuzz directory> <inputs per target> [parallel runs]
#
# Each run pins one target (--target=<name>) and starts from its seed corpus
# (seeds/<name>, written at build time) and keeps what it finds in
# corpus/<name>, so later runs go on from there; --smoke starts from the
# seeds alone, stops after a number of inputs rather than a time (so that a
# slow machine checks as much as a fast one) and keeps nothing. A crash, leak, sanitizer report, timeout
# or runaway allocation leaves its input in artifacts/ and fails the run.
set -euo pipefail

smoke=0
if [ "${1:-}" = "--smoke" ]; then
  smoke=1
  shift
fi
if [ $# -lt 2 ]; then
  echo "usage: $0 [--smoke] <fuzz build directory> <seconds, or inputs with --smoke> [parallel runs]" >&2
  exit 2
fi
dir=$1
limit=-max_total_time=$2
jobs=${3:-1}
cd "$dir"
[ -s targets.txt ] || { echo "$dir/targets.txt: no targets listed" >&2; exit 2; }

mkdir -p artifacts logs results
rm -f results/*
work=corpus
if [ "$smoke" = 1 ]; then
  limit=-runs=$2
  work=$(mktemp -d "${TMPDIR:-/tmp}/qvfuzz-smoke.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi

run_one() {
  local name=$1 limit=$2 work=$3
  local log=logs/$name.log status=ok
  mkdir -p "$work/$name"
  if ! ./qv_fuzz "$limit" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="artifacts/$name-" \
       "$work/$name" "seeds/$name" --target="$name" </dev/null >"$log" 2>&1; then
    status=FAILED
  fi
  local execs rate
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  [ "${rate:-}" = 0 ] && rate=-  # a run shorter than a second has no rate
  printf '%-30s %12s runs %10s runs/s  %s\n' "$name" "${execs:-?}" "${rate:-?}" "$status" |
    tee "results/$name"
}
export -f run_one

echo "fuzzing $(wc -l <targets.txt) targets, ${limit#-} each, $jobs at a time"
xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$limit" "$work" <targets.txt

failed=$(grep -l 'FAILED$' results/* 2>/dev/null || true)
if [ -n "$failed" ]; then
  for f in $failed; do
    name=$(basename "$f")
    echo "==== $name (log: $dir/logs/$name.log)"
    grep -E 'ERROR|SUMMARY|Test unit written|^    #[0-9]+ ' "logs/$name.log" | head -n 40
  done
  exit 1
fi
