#!/usr/bin/env python3
"""A real snmpd with the module, read through QV-WLAN-MIB by Net-SNMP's tools:
every served column has a MIB name whose SYNTAX matches the type on the
wire, every MIB column is served, the association rows decode to the right
first index and MAC, and snmptable prints the clients readably."""

import re
import sys

import qvargs
from mibtree import MIB_TO_WIRE, TABLES, mib_objects
from qvsnmp import SUBTREE, Agent, mib_env, run, v2c_conf, sim_env, check, failures


def main():
    a = qvargs.parse()
    env = mib_env(a.base_mib_dir, a.mib_dir)
    raw_env = dict(env, MIBS="", MIBDIRS=a.base_mib_dir)
    objs, _indexes = mib_objects(env)
    readable = {k: o for k, o in objs.items() if o["access"] == "-R--"}

    with Agent(v2c_conf(a.module), preload=a.datasource, env=sim_env(a)) as agent:
        v2c = ["-v2c", "-c", "public", "-r", "1", "-t", "3", agent.target]
        # 1. Raw walk, without the MIB: what is on the wire.
        raw = run(["snmpwalk", "-On", *v2c, SUBTREE], env=raw_env).stdout
        wire = {}   # (table, column) -> set of types
        rows = {}   # table -> set of index suffixes
        assoc_raw = []
        for line in raw.splitlines():
            m = re.match(r"^\.1\.3\.6\.1\.4\.1\.32473\.1\.1\.1\.2\.1\.(\d+)\.1\.(\d+)\.(\S+) = (?:([\w-]+):|"")", line)
            check(m is not None, f"unexpected walk line: {line}")
            if not m:
                continue
            t, c, idx = int(m.group(1)), int(m.group(2)), m.group(3)
            typ = m.group(4) or "STRING"  # an empty string is printed as "" alone
            wire.setdefault((t, c), set()).add(typ)
            rows.setdefault(t, set()).add(idx)
            if t == 2 and c == 1:
                assoc_raw.append(idx)
        for t in TABLES:
            check(rows.get(t), f"{TABLES[t]} has no rows: the test needs at least one per table")

        for key, types in sorted(wire.items()):
            o = readable.get(key)
            if o is None:
                failures.append(f"served column {TABLES[key[0]]}.{key[1]} has no readable MIB object")
                continue
            check(types <= MIB_TO_WIRE[o["type"]], f"{o['name']}: served as {types}, MIB says {o['type']}")
        for key, o in sorted(readable.items()):
            check(key in wire, f"MIB column {o['name']} is not served")

        # 2. Walk with the MIB: every instance has a name, none is left numeric.
        named = run(["snmpwalk", "-OX", *v2c, "QV-WLAN-MIB::qvWlanTables"], env=env).stdout
        lines = named.splitlines()
        check(len(lines) == len(raw.splitlines()), "named walk and raw walk differ in length")
        for line in lines:
            check(line.startswith("QV-WLAN-MIB::qv"), f"instance without a MIB name: {line}")

        # 3. Association index: the MIB's decoding equals the agent's encoding.
        decoded = re.findall(r"^QV-WLAN-MIB::qvClientMac\[(\d+)\]\[STRING: ([0-9a-f:]+)\] = STRING: ([0-9a-f:]+)$",
                             named, re.M)
        check(len(decoded) == len(assoc_raw), f"qvClientMac rows decoded: {decoded}, raw: {assoc_raw}")
        for (first, mac_idx, mac_val), raw_idx in zip(decoded, assoc_raw):
            parts = [int(x) for x in raw_idx.split(".")]
            check(len(parts) == 8 and parts[1] == 6, f"raw association index {raw_idx} is not idx.6.m1..m6")
            check(int(first) == parts[0], f"first index {first} decoded, {parts[0]} served")
            check([int(x, 16) for x in mac_idx.split(":")] == parts[2:], f"index MAC {mac_idx} vs {raw_idx}")
            check(mac_idx == mac_val, f"index MAC {mac_idx} differs from qvClientMac {mac_val}")
        check(("3", "0:11:22:33:44:55", "0:11:22:33:44:55") in decoded,
              "the client 00:11:22:33:44:55 under first index 3 is missing")
        ssid = run(["snmpget", "-OX", *v2c, "QV-WLAN-MIB::qvClientSSID.3.6.0.17.34.51.68.85"], env=env).stdout
        check(ssid.strip() == "QV-WLAN-MIB::qvClientSSID[3][STRING: 0:11:22:33:44:55] = STRING: Office",
              f"qvClientSSID of the example: {ssid!r}")

        # 4. snmptable prints the clients by name, with readable values.
        table = run(["snmptable", "-OX", "-Ci", "-Cf", "|", *v2c, "QV-WLAN-MIB::qvAssociationTable"],
                    env=env).stdout
        tl = table.splitlines()
        hdr = next((l.split("|") for l in tl if l.startswith("index|")), None)
        check(hdr is not None and hdr[1:4] == ["qvClientMac", "qvClientIP", "qvClientHostname"],
              f"snmptable header: {hdr}")
        if hdr:
            row = next((dict(zip(hdr, l.split("|"))) for l in tl if l.startswith("[3][0:11:22:33:44:55]|")), None)
            check(row is not None, f"snmptable has no row [3][0:11:22:33:44:55]:\n{table}")
            if row:
                check(row["qvClientMac"] == "0:11:22:33:44:55", f"qvClientMac shown as {row['qvClientMac']}")
                check(re.fullmatch(r"\d+\.\d+\.\d+\.\d+", row["qvClientIP"]) is not None,
                      f"qvClientIP shown as {row['qvClientIP']}")
                check(row["qvClientSSID"] == "Office", f"qvClientSSID shown as {row['qvClientSSID']}")
                check(len(row["qvClientBSSID"].split(":")) == 6, f"qvClientBSSID shown as {row['qvClientBSSID']}")

        log = agent.read_log()
    check("unknown column" not in log and "unsupported mode" not in log, f"agent log:\n{log}")

    if failures:
        print("\n".join(failures))
        return 1
    print(f"{len(wire)} served columns agree with QV-WLAN-MIB; {len(decoded)} association rows decode")
    return 0


if __name__ == "__main__":
    sys.exit(main())
