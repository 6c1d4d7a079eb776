#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The built module as the host agent loads it: exactly the reference's names
exported, the C library its only load-time dependency, nothing of the C++
runtime left for the loader. NM and READELF may name a cross toolchain's tools.
Usage: check_exports.py MODULE REFERENCE_DIR"""
import os, re, subprocess, sys

module, ref = sys.argv[1:3]


def rows(name):
    with open(os.path.join(ref, name)) as f:
        return [line.rstrip("\n").split("\t") for line in f if line.strip() and not line.startswith(("#", "table\t"))]


def tool(name, *args):
    return subprocess.run([os.environ.get(name.upper(), name), *args], check=True, capture_output=True, text=True).stdout


want = {"init_qv_if_iterate", "qv_if_scalar", "qv_if_iterate_free_undoInfo"} | {r[7] for r in rows("columns.tsv")}
for t, *rest in rows("tables.tsv"):
    suffixes = ("_handler", "_get_first_data_point", "_get_next_data_point", "_create_data_context", "_commit_row")
    want |= {"initialize_table_" + t, *rest[6:9], *(t + s for s in suffixes)}
got = {line.split()[0] for line in tool("nm", "-D", "--defined-only", "--format=posix", module).splitlines()}
undefined = tool("nm", "-D", "--undefined-only", "--format=posix", module).split()
needed = re.findall(r"\(NEEDED\).*\[(.+)\]", tool("readelf", "-d", module))
problems = [f"not exported: {n}" for n in sorted(want - got)] + [f"exported, not expected: {n}" for n in sorted(got - want)]
problems += [f"C++ runtime symbol: {n}" for n in undefined if re.match(r"_Z|__cxa_|__gxx_", n) and "@GLIBC_" not in n]
problems += [f"NEEDED {needed}, expected the C library alone"] * (len(needed) != 1 or not re.fullmatch(r"libc\.so(\.[0-9]+)?", needed[0]))
print("\n".join(problems) or f"{len(got)} names exported as expected; NEEDED {needed}")
sys.exit(1 if problems else 0)
