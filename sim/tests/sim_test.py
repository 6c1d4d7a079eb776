# SPDX-License-Identifier: BSD-3-Clause
"""The simulated access point. In process (ctypes, an injected clock): the
description errors users meet, counters over time, generated access points.
In a real snmpd through the fixture, where the module fetches and releases
the rows: every column's bytes loaded by dlmod and by LD_PRELOAD, reloading
on change, and the demo agent. Run: sim_test.py [InProcess|InAgent]."""
import ctypes
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from qvagent import Agent, free_port, reference
from qvmodel import expected_walk

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
AP = os.path.join(DATA, "ap.json")
TABLES = reference("tables")
COLUMNS = {c["object"]: c for c in reference("columns")}


class InProcess(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="qv-sim-")  # removed at exit
        cls.dir, cls.log = cls.tmp.name, os.path.join(cls.tmp.name, "log")
        cls.sim = sim = ctypes.CDLL(os.environ["QV_SIM"])
        sim.snmp_enable_filelog(cls.log.encode(), 0)  # the sim's log lines, through Net-SNMP
        cls.now = 1_000_000
        cls.clock = ctypes.CFUNCTYPE(ctypes.c_uint64)(lambda: cls.now)
        sim.qv_sim_set_clock(cls.clock)

    def setUp(self):
        os.environ.pop("QV_SIM_CONFIG", None), os.environ.pop("QV_SIM_GENERATE", None)
        self.sim.qv_sim_reset()
        self.sim.qv_sim_reset_stats()

    def log_lines(self):
        with open(self.log) as f:
            return f.read().splitlines()

    def walk(self, table, limit=100000):
        """[(cursor, record bytes)]: first, then next from the cursor of the row before."""
        rec, cursor = ctypes.create_string_buffer(table["size"]), ctypes.c_uint32()
        first, rows = getattr(self.sim, table["first"]), []
        rc = first(ctypes.byref(cursor), rec, 1) if table["index"] == "first+mac" else first(ctypes.byref(cursor), rec)
        while rc == 0 and len(rows) < limit:
            rows.append((cursor.value, rec.raw))
            rc = getattr(self.sim, table["next"])(ctypes.byref(cursor), rec)
        return rows

    def sizes(self):
        return [len(self.walk(t)) for t in TABLES]

    def counter(self, record, name):
        return int.from_bytes(record[COLUMNS[name]["offset"]:][:4], sys.byteorder)

    def test_each_bad_description_is_one_log_line_naming_it_and_empties_every_table(self):
        with open(os.path.join(DATA, "bad-descriptions.json")) as f:
            cases = json.load(f)[1:]
        for case in cases:
            with self.subTest(case=case):
                self.assertEqual(self.sim.qv_sim_load_json(b'{"radio_attributes": [{}]}', b"good"), 0)
                seen, where = len(self.log_lines()), "QV_SIM_GENERATE"
                if "generate" in case:
                    os.environ["QV_SIM_GENERATE"] = case["generate"]
                    self.sim.qv_sim_reset()
                    self.sizes()
                else:
                    where = os.path.join(self.dir, "bad%d.json" % cases.index(case))
                    if not case.get("missing"):
                        with open(where, "w") as f:
                            f.write(case["text"] if "text" in case else json.dumps(case["description"]))
                    self.assertEqual(self.sim.qv_sim_load_file(where.encode()), -1)
                self.assertEqual(self.sizes(), [0] * 5)
                want = rf"\A(?=.*{re.escape(case['message'])})qv_wlan_sim: {re.escape(where)}: .*; all tables are empty\Z"
                self.assertRegex("\n".join(self.log_lines()[seen:]), want)  # one line

    def test_counters_grow_with_the_clock_wrap_at_2_32_and_restart_on_reload(self):
        desc = {"vif_stats": [{"qvVIfRxDataFrames": 100, "qvVIfTxDataFrames": 4294967290, "qvVIfTxAirtime": 7,
                               "rates": {"qvVIfRxDataFrames": 10, "qvVIfTxDataFrames": 3, "qvVIfRxAirtime": 0.5}}]}
        self.assertEqual(self.sim.qv_sim_load_json(json.dumps(desc).encode(), b"rates"), 0)
        year = 86400 * 365
        for seconds, rx, tx, rx_air, tx_air in [(0, 100, 4294967290, 0, 7), (1.5, 115, 4294967294, 0, 7),
                                                (2, 120, 0, 1, 7), (year, (100 + 10 * year) % 2**32,
                                                                   (4294967290 + 3 * year) % 2**32, year // 2, 7)]:
            type(self).now = 1_000_000 + int(seconds * 1e6)
            (_, rec), = self.walk(TABLES[3])
            got = [self.counter(rec, "qvVIf" + c) for c in ("RxDataFrames", "TxDataFrames", "RxAirtime", "TxAirtime")]
            self.assertEqual(got, [rx, tx, rx_air % 2**32, tx_air], f"after {seconds} s")
        self.sim.qv_sim_load_json(b'{"vif_stats": [{"qvVIfRxDataFrames": 5, "rates": {"qvVIfRxDataFrames": 1}}]}', b"r")
        type(self).now += 3_000_000
        self.assertEqual(self.counter(self.walk(TABLES[3])[0][1], "qvVIfRxDataFrames"), 8)

    def test_generated_access_points_and_where_the_description_comes_from(self):
        self.assertEqual(self.sim.qv_sim_generate(300, 16, 4), 0)
        self.assertEqual(self.sizes(), [16, 300, 4, 16, 4])
        assoc = self.walk(TABLES[1])
        self.assertEqual(len({rec[:10] for _, rec in assoc}), 300, "(first index, MAC) identifies a row")
        self.assertEqual([c for c, _ in self.walk(TABLES[4])], [0, 1, 2, 3])
        # Four million clients are built on each call, not kept: the same entries, each found from its cursor.
        self.sim.qv_sim_generate(4000000, 16, 4)
        rec = ctypes.create_string_buffer(484)
        for start, part, want in ((298, slice(0, 484), assoc[299][1]), (3999998, slice(4, 10), b"\x02\x51\x00\x3d\x08\xff")):
            cursor = ctypes.c_uint32(start)
            self.assertEqual(self.sim.qv_wlan_get_next_ass(ctypes.byref(cursor), rec), 0)
            self.assertEqual((cursor.value, rec.raw[part]), (start + 1, want))
        seen = len(self.log_lines())  # a block it never filled: release refused, memory untouched
        self.assertEqual(self.sim.qv_free_ref_mem(ctypes.create_string_buffer(484)), -1)
        self.assertIn("not a live block", "".join(self.log_lines()[seen:]))
        desc = b'{"generate": {"clients": 50, "vifs": 2, "radios": 2}, "radio_attributes": [{"cursor": 9}]}'
        self.assertEqual(self.sim.qv_sim_load_json(desc, b"gen"), 0)
        self.assertEqual(self.sizes(), [2, 50, 2, 2, 1])
        # QV_SIM_CONFIG wins over QV_SIM_GENERATE, which wins over the built-in demo.
        with open(os.path.join(self.dir, "env.json"), "w") as f:
            f.write('{"interfaces": [{}]}')
        os.environ.update(QV_SIM_CONFIG=f.name, QV_SIM_GENERATE="clients=5,vifs=2,radios=1")
        for unset, expected in (("QV_SIM_CONFIG", [1, 0, 0, 0, 0]), ("QV_SIM_GENERATE", [2, 5, 1, 2, 1]),
                                (None, [7, 12, 2, 5, 2])):
            self.sim.qv_sim_reset()
            self.assertEqual(self.sizes(), expected)
            os.environ.pop(unset or "-", None)


class InAgent(unittest.TestCase):
    def test_every_column_loaded_by_ld_preload_and_by_dlmod_reading_a_broken_description_again_when_fixed(self):
        with Agent(load="preload", sim_config=AP) as agent:
            self.assertEqual(agent.walk(), expected_walk(AP, sys.byteorder))
        agent = Agent()  # dlmod, the description named by the snmpd.conf directive
        path = os.path.join(agent.dir, "ap.json")
        agent.config.append(f"qvSimConfig {path}")
        with open(path, "w") as f:
            f.write('{\n  "interfaces": [{"qvIfName": "a"}]\n  "radio_stats": []\n}\n')  # no comma
        with agent:
            self.assertEqual({k: v for k, v in agent.walk().items() if v[0]}, {})
            lines = [line for line in agent.log().splitlines() if "qv_wlan_sim" in line]
            self.assertEqual(len(lines), 1, lines)
            self.assertRegex(lines[0], rf"^qv_wlan_sim: {path}: line 3, column \d+: syntax error.*; all tables are empty$")
            shutil.copy(AP, path + ".new")
            os.replace(path + ".new", path)
            self.assertEqual(agent.walk(), expected_walk(AP, sys.byteorder))
            stats = agent.get(*(f".1.3.6.1.4.1.32473.1.1.1.99.{n}.0" for n in (1, 5, 6, 7)))
            self.assertEqual([v for _, v in stats.values()], [0, 0, 1, 1], "live, release errors, loads, errors")

    def test_demo_agent_prints_the_five_tables_once(self):
        build = os.path.dirname(os.path.dirname(os.environ["QV_MODULE"]))
        demo = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "demo-agent.sh")
        for extra in ([], ["--numeric"]):
            for _attempt in range(5):  # exit 3: the port was taken meanwhile
                run = subprocess.run([demo, "--once", "--prebuilt", build, "--port", str(free_port()), *extra],
                                     capture_output=True, text=True, timeout=60)
                if run.returncode != 3:
                    break
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            for text in [f"== {t['table']} (" for t in TABLES] + ["QV-Guest", "-92", "192.168.10.101", "Query it"]:
                self.assertIn(text, run.stdout, extra)
            self.assertEqual(run.stdout.count("alice-macbook"), 1, "one row per client")


if __name__ == "__main__":
    unittest.main()
