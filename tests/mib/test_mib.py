# SPDX-License-Identifier: BSD-3-Clause
"""QV-WLAN-MIB: smilint finds nothing; it agrees with the column and table
reference (names, OIDs, types, access, index); a live agent is read through
it by name."""

import os
import subprocess
import unittest

from qvagent import SUBTREE, Agent, mib_env, reference
from qvmodel import expected_walk

MIB = os.path.join(os.environ["QV_MIB_DIR"], "QV-WLAN-MIB.txt")
DESCRIPTION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e", "fixtures", "values.json")
SYNTAX = {"integer": "Integer32", "counter32": "Counter32", "ipaddress": "IpAddress", "mac": "QvMacAddress", "string": "OctetString"}
INDEX = {"cursor": ["Integer32"], "first+mac": ["Integer32", "QvMacAddressIndex"]}
COLUMNS, TABLES = reference("columns"), reference("tables")


def tool(*cmd, **env):
    return subprocess.run(cmd, env={**os.environ, **mib_env(), **env}, capture_output=True, text=True, errors="replace", timeout=60)


def type_name(node):
    return node["syntax"]["type"].get("name", node["syntax"]["type"].get("basetype"))


class Mib(unittest.TestCase):
    def test_smilint_finds_nothing(self):
        for target, path in ((MIB, os.environ["QV_BASE_MIB_DIR"]), ("QV-WLAN-MIB", mib_env()["SMIPATH"])):
            p = tool("smilint", "-l", "6", "-s", target, SMIPATH=path)  # imports from the base modules alone
            self.assertEqual((p.returncode, p.stdout + p.stderr), (0, ""), target)

    def test_objects_agree_with_the_reference(self):
        scope = {}
        exec(tool("smidump", "-f", "python", MIB).stdout, scope)
        nodes, root = scope["MIB"]["nodes"], SUBTREE[1:]
        readable = {n for n, o in nodes.items() if o["nodetype"] == "column" and o["access"] == "readonly"}
        self.assertEqual(readable, {c["object"] for c in COLUMNS})
        for c in COLUMNS:
            o = nodes[c["object"]]
            self.assertEqual((o["oid"], type_name(o)), (f"{root}.{c['arc']}.1.{c['column']}", SYNTAX[c["value"]]))
        for t in TABLES:
            self.assertEqual(nodes[t["table"]]["oid"], f"{root}.{t['arc']}")
            row = next(o for o in nodes.values() if o["nodetype"] == "row" and o["oid"] == f"{root}.{t['arc']}.1")
            index = [(type_name(i), i["access"], int(i["oid"].rsplit(".", 1)[1]) > t["last"]) for i in map(nodes.get, row["linkage"])]
            self.assertEqual(index, [(n, "noaccess", True) for n in INDEX[t["index"]]], t["table"])  # not served: past the columns

    def test_a_live_agent_reads_by_name(self):
        with Agent(sim_config=DESCRIPTION) as agent:
            named = agent.snmp("snmpwalk", "-OX", SUBTREE, mibs=True).stdout.splitlines()
            rows = agent.snmp("snmptable", "-OX", "-Ci", "-Cf", "|", "QV-WLAN-MIB::qvAssociationTable", mibs=True).stdout
        self.assertEqual(len(named), len(expected_walk(DESCRIPTION)))
        self.assertEqual([line for line in named if not line.startswith("QV-WLAN-MIB::qv")], [])
        # The association index shown by its syntaxes: an interface number, then a MAC address.
        self.assertIn("\n[3][0:11:22:33:44:55]|0:11:22:33:44:55|", rows)


if __name__ == "__main__":
    unittest.main(verbosity=2)
