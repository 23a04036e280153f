#!/usr/bin/env python3
"""Text snapshot of the wire protocol declared in quarvane.x.

One line per fact that the wire depends on: the program and version
numbers, every named type, every record field (record, position, name,
type) and every procedure (number, name, argument, result). Each line
stands on its own, so the snapshot can be compared as a set of lines and
does not care in which order records are declared.

    protocol_snapshot.py quarvane.x                 print the snapshot
    protocol_snapshot.py quarvane.x --write FILE    write it to FILE
    protocol_snapshot.py quarvane.x --check FILE    compare with FILE

--check fails when a line of FILE is missing from the declaration or has
changed: records and procedures may only grow. Lines that are new in the
declaration are listed but do not fail the check; write the snapshot again
to take them in.
"""
import argparse
import re
import sys

SCALARS = {
    "int", "unsigned int", "hyper", "unsigned hyper", "char", "unsigned char",
    "short", "unsigned short", "bool", "float", "double", "void",
}


class ParseError(Exception):
    pass


def tokenize(text: str) -> list[str]:
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    return re.findall(r"0x[0-9A-Fa-f]+|\w+|[{}()<>\[\];=,*]", text)


class Parser:
    def __init__(self, tokens: list[str]):
        self.t = tokens
        self.i = 0

    def peek(self) -> str | None:
        return self.t[self.i] if self.i < len(self.t) else None

    def take(self, want: str | None = None) -> str:
        if self.i >= len(self.t):
            raise ParseError(f"unexpected end of file, wanted {want or 'a token'}")
        tok = self.t[self.i]
        if want is not None and tok != want:
            raise ParseError(f"expected '{want}' but found '{tok}' at token {self.i}")
        self.i += 1
        return tok

    def type_name(self) -> str:
        tok = self.take()
        if tok == "unsigned":
            if self.peek() in ("int", "hyper", "char", "short", "long"):
                return "unsigned " + self.take()
            return "unsigned int"
        if tok in ("struct", "enum", "union"):
            raise ParseError(f"inline {tok} declarations are not supported")
        return tok

    def declaration(self) -> tuple[str, str]:
        """type then declarator; returns (name, type as written on the wire)."""
        base = self.type_name()
        if self.peek() == "*":
            self.take()
            name = self.take()
            return name, f"optional {base}"
        name = self.take()
        if self.peek() == "<":
            self.take("<")
            bound = "" if self.peek() == ">" else self.take()
            self.take(">")
            return name, f"{base}<{bound}>"
        if self.peek() == "[":
            self.take("[")
            size = self.take()
            self.take("]")
            return name, f"{base}[{size}]"
        return name, base

    def parse(self) -> list[str]:
        types, records, procs, header = [], [], [], []
        while self.peek() is not None:
            tok = self.take()
            if tok == "typedef":
                name, typ = self.declaration()
                self.take(";")
                types.append(f"type {name} = {typ}")
            elif tok == "struct":
                rec = self.take()
                self.take("{")
                pos = 0
                while self.peek() != "}":
                    name, typ = self.declaration()
                    self.take(";")
                    pos += 1
                    records.append(f"record {rec} {pos} {name}: {typ}")
                self.take("}")
                self.take(";")
                if pos == 0:
                    raise ParseError(f"record {rec} has no fields")
            elif tok == "program":
                prog = self.take()
                self.take("{")
                while self.peek() == "version":
                    self.take("version")
                    vers = self.take()
                    self.take("{")
                    body = []
                    while self.peek() != "}":
                        res = self.type_name()
                        proc = self.take()
                        self.take("(")
                        arg = self.type_name()
                        self.take(")")
                        self.take("=")
                        num = int(self.take(), 0)
                        self.take(";")
                        body.append((num, proc, arg, res))
                    self.take("}")
                    self.take("=")
                    vnum = int(self.take(), 0)
                    self.take(";")
                    header.append(f"version {vers} {vnum}")
                    for num, proc, arg, res in sorted(body):
                        procs.append(f"proc {vnum}.{num} {proc}({arg}) -> {res}")
                self.take("}")
                self.take("=")
                pnum = int(self.take(), 0)
                self.take(";")
                header.insert(0, f"program {prog} 0x{pnum:08X}")
            else:
                raise ParseError(f"unsupported declaration '{tok}' (snapshot would miss it)")
        return header + types + records + procs


def snapshot(path: str) -> list[str]:
    with open(path, encoding="utf-8") as f:
        lines = Parser(tokenize(f.read())).parse()
    known = SCALARS | {l.split()[1] for l in lines if l.startswith("type ")}
    known |= {l.split()[1] for l in lines if l.startswith("record ")}
    for line in lines:
        if line.startswith(("record ", "type ")):
            typ = line.split(": ", 1)[1] if line.startswith("record ") else line.split(" = ", 1)[1]
            base = re.sub(r"^optional |<\w*>$|\[\w+\]$", "", typ)
            if base not in known:
                raise ParseError(f"unknown type '{base}' in: {line}")
    return lines


def key(line: str) -> str:
    """What a line is about, so that a changed line can be told from a lost one."""
    parts = line.split()
    if parts[0] == "record":
        return " ".join(parts[:3])
    if parts[0] == "type":
        return " ".join(parts[:2])
    if parts[0] == "proc":
        return " ".join(parts[:2])
    return parts[0]


def check(current: list[str], committed_path: str) -> int:
    with open(committed_path, encoding="utf-8") as f:
        committed = [l.rstrip("\n") for l in f if l.strip() and not l.startswith("#")]
    now = set(current)
    by_key: dict[str, list[str]] = {}
    for line in current:
        by_key.setdefault(key(line), []).append(line)
    failures = 0
    changed_keys = set()
    for line in committed:
        if line in now:
            continue
        failures += 1
        if key(line) in by_key:
            changed_keys.add(key(line))
            for new in by_key[key(line)]:
                print(f"CHANGED: {line}\n     now: {new}")
        else:
            print(f"MISSING: {line}")
    old = set(committed)
    added = [l for l in current if l not in old and key(l) not in changed_keys]
    for line in added:
        print(f"new: {line}")
    if failures:
        print(f"{failures} committed line(s) of the protocol changed or vanished; "
              "the wire may only grow.")
        return 1
    if added:
        print(f"{len(added)} new line(s): rewrite {committed_path} with --write to accept them.")
    else:
        print(f"protocol matches {committed_path} ({len(committed)} lines)")
    return 0


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("xfile")
    group = ap.add_mutually_exclusive_group()
    group.add_argument("--write", metavar="FILE")
    group.add_argument("--check", metavar="FILE")
    args = ap.parse_args()
    try:
        lines = snapshot(args.xfile)
    except (ParseError, OSError) as e:
        print(f"protocol_snapshot: {args.xfile}: {e}", file=sys.stderr)
        return 2
    if args.check:
        return check(lines, args.check)
    text = ("# Wire protocol snapshot, written by tools/protocol_snapshot.py from\n"
            "# src/connection/quarvane.x. Lines may be added, never changed or removed.\n"
            + "\n".join(lines) + "\n")
    if args.write:
        with open(args.write, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
