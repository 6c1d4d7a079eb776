# SPDX-License-Identifier: BSD-3-Clause
"""End-to-end: a real snmpd loads the module and the simulated access point,
Net-SNMP's tools ask, and every answer is compared with qvmodel's reading of
the description through the column reference. Under QV_AGENT_WRAPPER
(valgrind) the same checks run with snmpd's memory watched."""

import json
import os
import re
import shutil
import sys
import unittest

from qvagent import SUBTREE, Agent
from qvmodel import expected_walk

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")
VALUES, EMPTY = os.path.join(HERE, "values.json"), os.path.join(HERE, "empty.json")
with open(os.path.join(HERE, "expect.json")) as f:
    EXPECT = json.load(f)  # rows that are not there; a name in every table; the ways to walk
WANT = expected_walk(VALUES, sys.byteorder)
NO_INSTANCE = ("", "No Such Instance currently exists at this OID")
NO_OBJECT = ("", "No Such Object available on this agent at this OID")
# The simulated access point's diagnostic scalars (served by the sim, not the module).
LIVE, FIRST_CALLS, RELEASE_ERRORS = 1, 3, 5
COMPLAINT = re.compile(r"problem encountered|malloc failed|unknown column|unsupported mode")


def oid_key(oid):
    return tuple(int(x) for x in oid.strip(".").split("."))


def stat(agent, n):
    name = f".1.3.6.1.4.1.32473.1.1.1.99.{n}.0"
    return agent.get(name)[name][1]


def assert_nothing_held(test, agent):
    test.assertEqual((stat(agent, LIVE), stat(agent, RELEASE_ERRORS)), (0, 0), "live blocks, release errors")


def finish(agent):
    """Stops the agent: it must leave cleanly (valgrind's error exit code,
    sanitizer reports and module complaints in the log all fail)."""
    log, status = agent.log(), agent.stop()
    reports = agent.sanitizer_reports()
    ok = (status == 0 or status == 23 and os.environ.get("QV_SANITIZER_PRELOAD")) and not reports and not COMPLAINT.search(log)
    agent.__exit__(None if ok else AssertionError, None, None)  # keeps and prints the log on failure
    assert ok, f"snmpd exit status {status}, module complaints {COMPLAINT.findall(log)}, reports {reports[:2]}"


class AgentTest(unittest.TestCase):
    """One agent per class; after every test it holds no row block and has
    released none wrongly: the memory protocol seen from outside."""
    description = VALUES

    @classmethod
    def setUpClass(cls):
        cls.agent = Agent(sim_config=cls.description).start()
        cls.addClassCleanup(finish, cls.agent)

    def tearDown(self):
        assert_nothing_held(self, self.agent)


class Values(AgentTest):
    def test_walks_answer_every_column_byte_exact_in_oid_order(self):
        for way, args in EXPECT["walks"].items():
            with self.subTest(way):
                self.assertEqual(list(self.agent.walk(**args).items()), sorted(WANT.items(), key=lambda a: oid_key(a[0])))

    def test_get_of_every_instance_fetches_rows_afresh(self):
        names, first_calls = list(WANT), stat(self.agent, FIRST_CALLS)
        for i in range(0, len(names), 40):
            batch = names[i:i + 40]
            self.assertEqual(self.agent.get(*batch, version="3" if i == 0 else "2c"), {n: WANT[n] for n in batch})
        # No rows are kept from one request to the next: every request asks the data source.
        self.assertGreaterEqual(stat(self.agent, FIRST_CALLS) - first_calls, len(names) // 40)

    def test_missing_rows_answer_no_such_instance(self):
        present, missing = next(iter(WANT)), EXPECT["missing"]
        self.assertEqual(self.agent.get(missing[0], present, *missing[1:]), {present: WANT[present], **dict.fromkeys(missing, NO_INSTANCE)})


class ChangingAccessPoint(unittest.TestCase):
    def test_the_next_request_shows_a_new_description(self):
        agent, name = Agent(), next(iter(WANT))
        path = agent.env["QV_SIM_CONFIG"] = os.path.join(agent.dir, "ap.json")
        shutil.copy(EMPTY, path)
        self.addCleanup(finish, agent.start())
        for source, answer in ((EMPTY, NO_INSTANCE), (VALUES, WANT[name]), (EMPTY, NO_INSTANCE)):
            shutil.copy(source, path + ".new")
            os.replace(path + ".new", path)  # renamed over: the data source sees a new file
            self.assertEqual(agent.get(name), {name: answer})
        self.assertEqual(stat(agent, LIVE), 0)


class EmptyAccessPoint(AgentTest):
    description = EMPTY

    def test_every_table_is_empty_and_nothing_is_logged(self):
        # Nothing under the subtree: the tools then GET the subtree itself.
        self.assertEqual(self.agent.walk(), {SUBTREE: NO_OBJECT})
        self.assertEqual(self.agent.walk(bulk=False), {SUBTREE: NO_OBJECT})
        names = EXPECT["in_every_table"]
        self.assertEqual(self.agent.get(*names), {n: NO_INSTANCE for n in names})
        self.assertGreaterEqual(stat(self.agent, FIRST_CALLS), 5)  # the module did ask
        self.assertEqual(re.findall("initialize_table_|Registering table|qv_if_iterate|trace", self.agent.log()), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
