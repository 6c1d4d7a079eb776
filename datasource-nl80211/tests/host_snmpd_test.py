# SPDX-License-Identifier: BSD-3-Clause
"""The nl80211 source in a real snmpd on this machine, loaded by dlmod and by
LD_PRELOAD. Without radios (often without nl80211) the tables are registered
and empty, and a netlink failure is logged once per kind, not once per walk."""
import os
import unittest

from qvagent import SUBTREE, Agent

KINDS = ["interfaces", "associations", "radio statistics", "virtual interface statistics", "radio attributes"]


class HostSnmpd(unittest.TestCase):
    def test_loaded_both_ways_the_tables_answer_and_failures_are_logged_once(self):
        for load in ("dlmod", "preload"):
            with self.subTest(load=load), Agent(datasource=os.environ["QV_NL80211"], load=load) as agent:
                # noSuchInstance: table registered, data source resolved (a failed load gives noSuchObject).
                self.assertIn("No Such Instance", agent.snmp("snmpget", "-On", f"{SUBTREE}.1.1.1.2147483647").stdout)
                for _walk in range(3):
                    agent.walk(bulk=False)
                log = agent.log()
                for kind in KINDS:
                    self.assertLessEqual(log.count(f"qv_wlan_nl80211: cannot read {kind}:"), 1, log)


if __name__ == "__main__":
    unittest.main()
