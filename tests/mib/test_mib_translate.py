#!/usr/bin/env python3
"""QV-WLAN-MIB names every column the module compiles in, at the OID the module
serves it and with the matching SYNTAX, and nothing else; its index objects
stay out of the served columns; and Net-SNMP decodes the association index
(first index, then a length-prefixed MAC) as the agent encodes it."""

import sys

import qvargs
from mibtree import KIND_TO_MIB, TABLES, column_oid, mib_objects, module_columns
from qvsnmp import SUBTREE, mib_env, run, check, failures


def main():
    a = qvargs.parse()
    env = mib_env(a.base_mib_dir, a.mib_dir)
    served = module_columns(a.columns_dump)
    objs, indexes = mib_objects(env)
    check(len(served) == 87, f"module serves {len(served)} columns, expected 87")

    # Every served column has its MIB object, same name, read-only, same type.
    for (t, c), (name, kind) in sorted(served.items()):
        o = objs.get((t, c))
        if o is None:
            failures.append(f"{TABLES[t]} column {c} ({name}) has no MIB object")
            continue
        typ, tc = KIND_TO_MIB[kind]
        check(o["name"] == name, f"{TABLES[t]}.{c}: MIB names it {o['name']}, module {name}")
        check(o["access"] == "-R--", f"{name}: access {o['access']}, expected read-only")
        check(o["type"] == typ, f"{name}: MIB type {o['type']}, module serves {kind}")
        if tc:
            check(o["tc"] == tc, f"{name}: textual convention {o['tc']}, expected {tc}")

    # Every readable MIB object is served; the rest are index objects,
    # not-accessible and above the served column range.
    for (t, n), o in sorted(objs.items()):
        if o["access"] != "----":
            check((t, n) in served, f"MIB object {o['name']} ({TABLES[t]}.{n}) is not served by the module")
            continue
        top = max(c for (tt, c) in served if tt == t)
        check(n > top, f"index object {o['name']} at {n} lies inside {TABLES[t]}'s columns 1..{top}")
        check(o["name"] in indexes.get(t, []), f"not-accessible {o['name']} is not in an INDEX clause")

    expected_index = {
        1: ["qvXIfIndex"], 2: ["qvAssociationIndex", "qvAssociationClientMacIndex"],
        3: ["qvRadioStatsIndex"], 4: ["qvVIfStatsIndex"], 5: ["qvRadioAttributeIndex"]}
    check(indexes == expected_index, f"INDEX clauses {indexes}")
    by_name = {o["name"]: o for o in objs.values()}
    for t, names in expected_index.items():
        for n in names:
            check(by_name.get(n, {}).get("access") == "----", f"index object {n} must be not-accessible")
    check(by_name.get("qvAssociationIndex", {}).get("type") == "Integer32", "qvAssociationIndex: Integer32")

    # snmptranslate -On of every column name gives the OID the module serves.
    names = [f"QV-WLAN-MIB::{name}" for (name, _k) in served.values()]
    keys = list(served.keys())
    out = run(["snmptranslate", "-On", *names], env=env).stdout.split()
    check(len(out) == len(keys), f"snmptranslate -On gave {len(out)} OIDs for {len(keys)} names")
    for (t, c), oid in zip(keys, out):
        check(oid == column_oid(t, c), f"{served[(t, c)][0]} -> {oid}, served at {column_oid(t, c)}")
    for t, tname in TABLES.items():
        oid = run(["snmptranslate", "-On", f"QV-WLAN-MIB::{tname}"], env=env).stdout.strip()
        check(oid == f"{SUBTREE}.{t}", f"{tname} -> {oid}")

    # The association instance for first index 3, client 00:11:22:33:44:55:
    # the agent puts the length 6 before the six octets.
    inst = f"{SUBTREE}.2.1.10.3.6.0.17.34.51.68.85"
    x = run(["snmptranslate", "-OX", inst], env=env).stdout.strip()
    check(x == "QV-WLAN-MIB::qvClientSSID[3][STRING: 0:11:22:33:44:55]",
          f"-OX decodes the association instance as {x!r}")
    # and back: the name with that index encodes to the same identifier
    num = run(["snmptranslate", "-On", "QV-WLAN-MIB::qvClientSSID.3.6.0.17.34.51.68.85"], env=env).stdout.strip()
    check(num == inst, f"name with numeric index -> {num}")
    # A single-integer index is one sub-identifier.
    x = run(["snmptranslate", "-OX", f"{SUBTREE}.5.1.3.2"], env=env).stdout.strip()
    check(x == "QV-WLAN-MIB::qvRadioNoiseFloor[2]", f"-OX of the radio attribute instance: {x!r}")

    if failures:
        print("\n".join(failures))
        return 1
    print(f"{len(served)} columns agree with QV-WLAN-MIB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
