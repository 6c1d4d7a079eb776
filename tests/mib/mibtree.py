"""What QV-WLAN-MIB says about the served tables, as Net-SNMP reads it, and
what the module compiles in, from its column lists."""

import re
import subprocess

from qvsnmp import SUBTREE, run

TABLES = {1: "qvXIfTable", 2: "qvAssociationTable", 3: "qvRadioStatsTable",
          4: "qvVIfStatsTable", 5: "qvRadioAttributeTable"}

# Module column kind -> (Net-SNMP -Tp type word, textual convention or None)
KIND_TO_MIB = {
    "String": ("String", "DisplayString"),
    "Mac": ("String", "QvMacAddress"),
    "Integer": ("Integer32", None),
    "Counter32": ("Counter", None),
    "IpAddress": ("IpAddr", None),
}
# -Tp type word -> the value type snmpwalk prints for it (without the MIB)
MIB_TO_WIRE = {"String": {"STRING", "Hex-STRING"}, "Integer32": {"INTEGER"},
               "Counter": {"Counter32"}, "IpAddr": {"IpAddress"}}


def module_columns(dump_exe):
    """{(table, column): (name, kind)} from the module's column lists."""
    out = subprocess.run([dump_exe], capture_output=True, text=True, check=True).stdout
    cols = {}
    for line in out.splitlines():
        t, c, name, kind = line.split()
        cols[(int(t), int(c))] = (name, kind)
    return cols


def mib_objects(env):
    """{(table, number): dict(name, access, type, tc)} for every object under
    each entry of the five tables, plus {table: [index names]}."""
    objs, indexes = {}, {}
    for t, tname in TABLES.items():
        tree = run(["snmptranslate", "-Tp", f"QV-WLAN-MIB::{tname}"], env=env).stdout
        cur = None
        for line in tree.splitlines():
            m = re.search(r"Index: (.*)$", line)
            if m:
                indexes[t] = [s.strip() for s in m.group(1).split(",")]
                continue
            m = re.search(r"\+-- (\S{4}) (\S+)\s+(\w+)\((\d+)\)$", line)
            if m:
                access, typ, name, num = m.groups()
                cur = {"name": name, "access": access, "type": typ, "tc": None}
                objs[(t, int(num))] = cur
                continue
            m = re.search(r"Textual Convention: (\S+)", line)
            if m and cur is not None:
                cur["tc"] = m.group(1)
    return objs, indexes


def column_oid(t, c):
    return f"{SUBTREE}.{t}.1.{c}"
