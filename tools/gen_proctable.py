#!/usr/bin/env python3
"""Derive the procedure table from the protocol declaration.

Reads the program block of the .x file and writes a C++ header with one
traits specialisation per procedure (argument and result records, their
filters, the generated stub) plus a runtime table indexed by procedure
number. The library's call road, the test service, quarvane-sim, the
benchmarks and the fuzzers all take their procedure facts from here, so
nothing about a procedure is written down twice.
"""
import re
import sys


def main() -> int:
    if len(sys.argv) != 3:
        print("usage: gen_proctable.py quarvane.x proc_table.h", file=sys.stderr)
        return 2
    text = open(sys.argv[1], encoding="utf-8").read()
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    block = re.search(r"version\s+\w+\s*\{(.*?)\}\s*=\s*1\s*;", text, re.S)
    if not block:
        print("gen_proctable: no version block", file=sys.stderr)
        return 1
    procs = []
    for m in re.finditer(r"(\w+)\s+(\w+)\s*\(\s*(\w+)\s*\)\s*=\s*(\w+)\s*;", block.group(1)):
        res, name, arg, num = m.groups()
        procs.append((int(num, 0), name, arg, res))
    procs.sort()
    numbers = [p[0] for p in procs]
    if numbers != list(range(len(procs))):
        print("gen_proctable: procedure numbers are not 0..n-1 without gaps", file=sys.stderr)
        return 1

    def rec(t: str) -> str:
        return "NoRecord" if t == "void" else t

    def flt(t: str) -> str:
        return "xdr_void" if t == "void" else "xdr_" + t

    out = []
    w = out.append
    w("/* Generated from quarvane.x by tools/gen_proctable.py. Do not edit. */")
    w("#pragma once")
    w("#include <cstddef>")
    w('#include "quarvane.h"')
    w("")
    w("namespace qv::wire {")
    w("")
    w("// Stands for the empty side of a procedure (xdr_void).")
    w("struct NoRecord {};")
    w("")
    w(f"inline constexpr unsigned kProcCount = {len(procs)};")
    w("")
    w("template <unsigned P>")
    w("struct Proc;")
    w("")
    for num, name, arg, res in procs:
        stub = name.lower() + "_1"
        w("template <>")
        w(f"struct Proc<{num}> {{")
        w(f"    using Arg = {rec(arg)};")
        w(f"    using Res = {rec(res)};")
        w(f"    static constexpr unsigned kNumber = {num};")
        w(f'    static constexpr const char* kName = "{name}";')
        w(f'    static constexpr const char* kArgName = "{arg}";')
        w(f'    static constexpr const char* kResName = "{res}";')
        w(f"    static xdrproc_t ArgFilter() {{ return reinterpret_cast<xdrproc_t>({flt(arg)}); }}")
        w(f"    static xdrproc_t ResFilter() {{ return reinterpret_cast<xdrproc_t>({flt(res)}); }}")
        w("    static enum clnt_stat Stub(Arg* arg, Res* res, CLIENT* client) {")
        w(f"        return {stub}(arg, res, client);")
        w("    }")
        w("};")
        w("")
    w("// The same facts at run time, indexed by procedure number.")
    w("struct ProcInfo {")
    w("    unsigned number;")
    w("    const char* name;")
    w("    const char* arg_name;")
    w("    const char* res_name;")
    w("    xdrproc_t arg_filter;")
    w("    std::size_t arg_size;")
    w("    xdrproc_t res_filter;")
    w("    std::size_t res_size;")
    w("};")
    w("")
    w("template <unsigned P>")
    w("inline ProcInfo MakeProcInfo() {")
    w("    using T = Proc<P>;")
    w("    return ProcInfo{T::kNumber, T::kName, T::kArgName, T::kResName, T::ArgFilter(),")
    w("                    sizeof(typename T::Arg), T::ResFilter(), sizeof(typename T::Res)};")
    w("}")
    w("")
    w("inline const ProcInfo& ProcTable(unsigned number) {")
    w("    static const ProcInfo table[kProcCount] = {")
    for num, *_ in procs:
        w(f"        MakeProcInfo<{num}>(),")
    w("    };")
    w("    return table[number];")
    w("}")
    w("")
    w("}  // namespace qv::wire")
    w("")
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
