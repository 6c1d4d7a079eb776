# SPDX-License-Identifier: BSD-3-Clause
"""The agent with the module under hostile traffic: malformed packets, refused
SETs, misbehaving data sources and a short soak, each on the one fixture and
each ending with the fixture's clean-exit checks (valgrind, the sanitizers).
Sizes come from the environment (QV_PACKETS, QV_SOAK_REQUESTS, QV_ROUNDS) so
that tests/long-runs.sh can make them long; every loop is bounded in count
and in time (QV_TIME_LIMIT seconds)."""

import contextlib
import json
import os
import random
import socket
import tempfile
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

from qvagent import SUBTREE, Agent
from test_e2e import VALUES, WANT, assert_nothing_held, finish, oid_key  # on PYTHONPATH: tests/e2e

SIZE = {k: int(os.environ.get(k, d)) for k, d in (("QV_PACKETS", 3000), ("QV_SOAK_REQUESTS", 20000),
                                                   ("QV_ROUNDS", 5), ("QV_TIME_LIMIT", 150))}
GET, GETNEXT, SET, GETBULK = 0xA0, 0xA1, 0xA3, 0xA5


# --- a small BER writer, for packets no well-behaved client sends -------------
def tlv(tag, body):
    n = len(body)
    size = bytes([n]) if n < 128 else bytes([0x80 | (n.bit_length() + 7) // 8]) + n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag]) + size + body


def integer(v, tag=2):
    return tlv(tag, v.to_bytes(max(1, (v.bit_length() + 8) // 8), "big", signed=True))


def oid(arcs):
    arcs = [arcs[0] * 40 + arcs[1], *arcs[2:]] if len(arcs) > 1 else list(arcs)
    body = b""
    for a in arcs:  # base 128, most significant digit first, all but the last with the high bit
        digits = [a >> 7 * i & 0x7F for i in reversed(range(max(1, (a.bit_length() + 6) // 7)))]
        body += bytes([0x80 | d for d in digits[:-1]] + digits[-1:])
    return tlv(6, body)


def pdu(kind, rid, names, values=None, a=0, b=0):
    vbs = b"".join(tlv(0x30, oid(n) + v) for n, v in zip(names, values or [b"\x05\x00"] * len(names)))
    return tlv(kind, integer(rid) + integer(a) + integer(b) + tlv(0x30, vbs))


def message(version, community, body):
    return tlv(0x30, integer(version) + tlv(4, community) + body)


def hostile(rng, known):
    root = oid_key(SUBTREE)
    big = rng.choice([0, 1, 2 ** 31 - 1, 2 ** 31, 2 ** 32 - 1, 2 ** 40])
    col = root + (rng.randint(0, 6), 1, rng.randint(0, 40))
    names = [rng.choice([root[:rng.randint(0, len(root))], col[:rng.randint(len(root), len(col))] + (big,),
                         col + (rng.choice([0, 7, big]), rng.choice([0, 5, 6, 7, 255, big]))
                         + tuple(rng.randint(0, 300) for _ in range(rng.randint(0, 8))),
                         col + tuple(rng.randint(0, 2 ** 32 - 1) for _ in range(rng.randint(2, 40))),
                         col + tuple(rng.randint(0, 255) for _ in range(rng.randint(100, 140))),
                         rng.choice(known), rng.choice(known)[:-1] + (big,)])
             for _ in range(rng.choice([1, 2, 5, 40]))]
    kind = rng.choice([GET, GETNEXT, GETBULK, GETBULK, SET])
    values = [rng.choice([integer(rng.randint(-2 ** 31, 2 ** 31)), tlv(4, os.urandom(rng.randint(0, 200))),
                          tlv(0x40, os.urandom(4)), integer(rng.randint(0, 2 ** 32 - 1), 0x41), b"\x05\x00"])
              for _ in names] if kind == SET else None
    body = pdu(kind, rng.randint(-2 ** 31, 2 ** 31 - 1), names, values,
               *([rng.choice([0, 1, -1, 2 ** 31 - 1]), rng.choice([0, 1, 10, 65535, 2 ** 31 - 1, -5])]
                 if kind == GETBULK else []))
    # No SNMPv3 shells: without authentication the module never sees them.
    packet = message(rng.choice([0, 1, 1, 3, -1]), rng.choice([b"public", b"private", b"", os.urandom(300)]), body)
    if rng.random() < 0.35:  # cut, changed or padded: whatever still parses reaches the module with odd names
        i = rng.randrange(1, len(packet))
        packet = rng.choice([packet[:i], packet[:i] + bytes([rng.randrange(256)]) + packet[i + 1:],
                             packet[:i] + b"\x84\xff\xff\xff\xff" + packet[i + 1:], packet[:i] + b"\x80" + packet[i:],
                             packet[:i] + os.urandom(rng.randint(1, 16)) + packet[i:], os.urandom(rng.randint(0, 1400))])
    return packet


class AgentTest(unittest.TestCase):
    def agent(self, **args):
        agent = Agent(**{"sim_config": VALUES, **args}).start()
        self.addCleanup(finish, agent)
        self.deadline = time.monotonic() + SIZE["QV_TIME_LIMIT"]
        return agent


class Malformed(AgentTest):
    def test_hostile_packets_leave_the_answers_unchanged(self):
        agent, rng = self.agent(writable=True), random.Random(7)  # hostile SETs reach the tables
        known = [oid_key(n) for n in WANT]
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            for sent in range(0, SIZE["QV_PACKETS"], 100):
                for _ in range(100):
                    s.sendto(hostile(rng, known), ("127.0.0.1", agent.port))
                names = rng.sample(list(WANT), 3)
                self.assertEqual(agent.get(*names), {n: WANT[n] for n in names}, f"after {sent + 100} packets")
                self.assertLess(time.monotonic(), self.deadline, "time limit reached")
        self.assertEqual(agent.walk(), WANT)
        assert_nothing_held(self, agent)


class Misbehaving(AgentTest):
    def test_repeated_cursors_failures_mid_walk_and_junk(self):
        for mode in ("repeat", "midwalk", "flaky"):
            with self.subTest(mode), tempfile.TemporaryDirectory() as work:
                report = os.path.join(work, "report")
                agent = Agent(datasource=os.environ["QV_TEST_DS"],
                              env={"QV_MISBEHAVE": mode, "QV_MISBEHAVE_REPORT": report}).start()
                try:
                    for _ in range(SIZE["QV_ROUNDS"]):
                        walked = agent.walk()
                        self.assertTrue(walked, "the module did not reach the data source")
                        self.assertEqual(agent.walk(bulk=False), walked)
                finally:
                    finish(agent)
                with open(report) as f:  # every block filled is freed, once
                    self.assertRegex(f.read(), r"^filled=(\d+) freed=\1 live=0 bad_releases=0$")


def ask(agent, request):
    """The answer to a request sent as it is, up to three times; None without one."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(5)
        for _ in range(3):
            s.sendto(request, ("127.0.0.1", agent.port))
            with contextlib.suppress(socket.timeout):
                return s.recv(65535)


class Soak(AgentTest):
    def test_mixed_requests_from_four_clients(self):
        """Each request is sent once for a baseline, then again and again: the
        same bytes must come back, as the access point does not change."""
        agent, rng = self.agent(), random.Random(3)
        names = sorted(oid_key(n) for n in WANT)[:-30]  # bulk answers stay inside the tables: no changing counters
        requests = [message(1, b"public", pdu(kind, rid, [rng.choice(names)], None, *([0, rng.choice([5, 25])] if kind == GETBULK else [])))
                    for rid, kind in enumerate(rng.choice([GET, GET, GETNEXT, GETNEXT, GETBULK]) for _ in range(200))]
        baseline = [ask(agent, r) for r in requests]
        self.assertNotIn(None, baseline, "no answer to a first request")
        failures, rss = [], []

        def client(seed):
            pick = random.Random(seed)
            for _ in range(SIZE["QV_SOAK_REQUESTS"] // 40):
                i = pick.randrange(len(requests))
                if time.monotonic() > self.deadline or ask(agent, requests[i]) != baseline[i]:
                    failures.append(i)
                    return

        for phase in range(10):
            with ThreadPoolExecutor(4) as clients:
                list(clients.map(client, range(phase * 10, phase * 10 + 4)))
            self.assertEqual(failures, [], f"wrong, missing or late answers in phase {phase}")
            with open(f"/proc/{agent.proc.pid}/status") as f:
                rss.append(int(next(line.split()[1] for line in f if line.startswith("VmRSS"))))
        print("FIGURES soak", json.dumps({"requests": SIZE["QV_SOAK_REQUESTS"], "rss_kib": rss}))
        assert_nothing_held(self, agent)


if __name__ == "__main__":
    unittest.main(verbosity=2)
