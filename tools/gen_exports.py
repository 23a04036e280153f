#!/usr/bin/env python3
"""Derive the export lists from the table of exported functions.

Reads src/exports.def and writes
  - the linker version script: exactly the table's functions are global,
    everything else in the shared object is local;
  - the list of exported names, one a line, that the export test compares
    with the dynamic symbols of the built library.

The table is checked on the way: every name once, every release function a
row of its own.
"""
import re
import sys

ROW = re.compile(r"^(QV_REMOTE|QV_SESSION|QV_LOCAL|QV_RELEASE)\((.*?)\)\s*$", re.S | re.M)
ARG = re.compile(r'\s*(u"(?:[^"\\]|\\.)*"|[A-Za-z_][A-Za-z0-9_]*)\s*(?:,|$)')


def rows(text):
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    text = re.sub(r"^#.*$", "", text, flags=re.M)
    for m in ROW.finditer(text):
        args, pos, body = [], 0, " ".join(m.group(2).split())
        while pos < len(body):
            a = ARG.match(body, pos)
            if not a:
                raise ValueError(f"cannot read the row {m.group(0)!r}")
            args.append(a.group(1))
            pos = a.end()
        yield m.group(1), args


def main() -> int:
    if len(sys.argv) != 4:
        print("usage: gen_exports.py exports.def version-script export-list", file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as f:
        table = list(rows(f.read()))
    arity = {"QV_REMOTE": 12, "QV_SESSION": 4, "QV_LOCAL": 3, "QV_RELEASE": 2}
    names, releases = [], []
    for kind, args in table:
        if len(args) != arity[kind]:
            print(f"gen_exports: {kind}({', '.join(args)}) needs {arity[kind]} columns",
                  file=sys.stderr)
            return 1
        names.append(args[0])
        release = {"QV_REMOTE": 9, "QV_LOCAL": 2}.get(kind)
        if release is not None and args[release] != "nullptr":
            releases.append((args[0], args[release]))
    duplicates = sorted({n for n in names if names.count(n) > 1})
    missing = [f"{n} -> {r}" for n, r in releases if r not in names]
    if duplicates or missing or not names:
        print(f"gen_exports: twice: {duplicates}; release not in the table: {missing}",
              file=sys.stderr)
        return 1
    names.sort()
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write("/* Generated from src/exports.def by tools/gen_exports.py. */\n{\n  global:\n")
        f.writelines(f"    {n};\n" for n in names)
        f.write("  local:\n    *;\n};\n")
    with open(sys.argv[3], "w", encoding="utf-8") as f:
        f.writelines(f"{n}\n" for n in names)
    return 0


if __name__ == "__main__":
    sys.exit(main())
