#!/usr/bin/env python3
"""Prints the pairs of a qv_bench run and their ratios.

Reads the JSON that qv_bench writes with --benchmark_out and prints:
- call overhead: each exported function against the bare call of its
  procedure (library_us / bare_us, measured alternately in one benchmark);
- conversions: each list function against decode-only of the same reply
  and against the floor (decoding plus the blocks and copies the contract
  asks of any conversion), for every reply size, with the time per entry
  (flat when growth is linear) and the allocation counters. These run on
  one thread without waiting, so their CPU time is compared: it holds still
  on a busy machine.
With --benchmark_repetitions the medians are used.
"""
import json
import sys
from collections import defaultdict

OVERHEAD_GOAL = 1.05
CONVERSION_GOAL = 1.3
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def runs(results):
    """One entry per benchmark (the median when repeated), and the failed ones."""
    chosen, medians, failed = {}, {}, set()
    for b in results["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[name] = b
            continue
        if b.get("error_occurred"):
            failed.add(name)
            continue
        chosen.setdefault(name, b)
    chosen.update(medians)
    return chosen, failed


def cpu_ns(run):
    return run["cpu_time"] * TO_NS[run["time_unit"]]


def mark(ratio, goal):
    return "ok" if ratio <= goal else "over goal"


def conversion_mark(ratio, floor_ratio):
    """Over the goal, says whether the contract's floor already is."""
    if ratio <= CONVERSION_GOAL or not floor_ratio > CONVERSION_GOAL:
        return mark(ratio, CONVERSION_GOAL)
    return f"over goal (the floor is {floor_ratio:.2f} x decode)"


def main():
    if len(sys.argv) != 2:
        print("usage: summary.py results.json", file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as f:
        results = json.load(f)
    chosen, failed = runs(results)

    overhead = {n: b for n, b in chosen.items() if n.startswith("Overhead/")}
    if overhead:
        print(f"\nCall overhead: exported function / bare stub call, same service on loopback "
              f"(goal <= {OVERHEAD_GOAL})")
        print(f"  {'function':<30} {'library':>11} {'bare':>11} {'ratio':>7}")
        for name, b in overhead.items():
            ratio = b["ratio"]
            function = name.split("/")[1]
            print(f"  {function:<30} {b['library_us']:>8.2f} us {b['bare_us']:>8.2f} us "
                  f"{ratio:>7.3f}  {mark(ratio, OVERHEAD_GOAL)}")

    pairs = defaultdict(dict)  # function -> entries -> side -> run
    for name, b in chosen.items():
        parts = name.split("/")
        if parts[0] != "Convert" or len(parts) != 4:
            continue
        _, function, side, entries = parts
        pairs[function].setdefault(int(entries), {})[side] = b
    for function, sizes in pairs.items():
        print(f"\nConversion: {function} against decode-only of the same reply and against "
              f"the floor, MemoryClient, CPU time (goal library/decode <= {CONVERSION_GOAL})")
        print(f"  {'entries':>8} {'library':>12} {'floor':>12} {'decode':>12} {'lib/dec':>7} "
              f"{'lib/flr':>7} {'flr/dec':>7} {'ns/entry':>9} {'allocs/e':>9} {'floor/e':>8} "
              f"{'output':>11} {'peak/out':>8}")
        per_entry = {}
        for entries in sorted(sizes):
            side = sizes[entries]
            lib, dec, flr = side.get("library"), side.get("decode"), side.get("floor")
            if lib is None or dec is None:
                continue
            lib_ns, dec_ns = cpu_ns(lib), cpu_ns(dec)
            flr_ns = cpu_ns(flr) if flr else float("nan")
            ratio = lib_ns / dec_ns
            per_entry[entries] = (lib_ns / entries, dec_ns / entries, flr_ns / entries)
            print(f"  {entries:>8} {lib_ns / 1e3:>9.1f} us {flr_ns / 1e3:>9.1f} us "
                  f"{dec_ns / 1e3:>9.1f} us {ratio:>7.3f} {lib_ns / flr_ns:>7.3f} "
                  f"{flr_ns / dec_ns:>7.3f} {lib_ns / entries:>9.1f} "
                  f"{lib.get('allocs_per_entry', 0):>9.2f} "
                  f"{(flr or {}).get('allocs_per_entry', float('nan')):>8.2f} "
                  f"{lib.get('output_bytes', 0):>11.0f} {lib.get('peak_per_output', 0):>8.2f}"
                  f"  {conversion_mark(ratio, flr_ns / dec_ns)}")
        if len(per_entry) >= 2:
            small = min(e for e in per_entry if e >= 1000) if any(e >= 1000 for e in per_entry) \
                else min(per_entry)
            large = max(per_entry)
            if large != small:
                grow = [per_entry[large][k] / per_entry[small][k] for k in range(3)]
                print(f"  growth: time per entry at {large} / at {small} entries: "
                      f"library {grow[0]:.2f}, decode {grow[1]:.2f}, floor {grow[2]:.2f} "
                      f"(1.00 is linear)")

    if failed:
        print("\nbenchmarks that did not run: " + ", ".join(sorted(failed)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
