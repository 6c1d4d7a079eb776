#!/usr/bin/env python3
"""Agent-level robustness runs against a real snmpd with the module and the
simulated data source, on 127.0.0.1 only.

  robustness.py malformed --packets N    hostile and malformed SNMP messages
  robustness.py set-refusal              SET of every column, v1/v2c/v3
  robustness.py misbehaving              strings without NUL, big tables,
                                         descriptions that change between walks
  robustness.py misbehaving-ds --test-ds PATH   repeated cursors, failures
                                         mid-walk, random failures (test-only source)
  robustness.py soak --requests N        concurrent GET/GETNEXT/GETBULK load,
                                         resident memory before and after
  robustness.py valgrind                 snmpd under memcheck over scripted queries

Common options: --module PATH --sim PATH [--preload RUNTIME] [--seed N].
Every loop is bounded by a count and the whole run by --time-limit seconds.
Prints one "FIGURES ..." line for docs/reliability.md; exits non-zero on any
failure.
"""

import argparse
import json
import multiprocessing
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import agent as agentmod  # noqa: E402
import snmpwire as w  # noqa: E402

SIM_STATS = (1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 99)
MODULE_MESSAGE = re.compile(r"problem encountered in qv\w+_handler|malloc failed in initialize_table_qv")

# Column kinds per table, in column order (S string, M MAC, A IpAddress,
# I INTEGER, C Counter32), and string rooms for the checks on answers.
KINDS = {
    1: "SSIIII",
    2: "MASICIIIISIIIISCCCCCCCCCCCCCICCCCCCCM",
    3: "C" * 23,
    4: "C" * 18,
    5: "III",
}
STRING_ROOM = {(1, 1): 17, (1, 2): 35, (2, 3): 36, (2, 10): 36, (2, 15): 164}


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def check(self):
        if time.monotonic() > self.end:
            raise Failure("time limit reached")


# --- the access point the runs serve -------------------------------------------

def description():
    """A fixed access point without counter rates, so every answer can be
    compared with the first walk. Strings fill their whole room with no NUL
    (raw bytes), records carry junk in unread bytes (fill)."""
    ifs = [{"cursor": 0, "qvIfName": "wifi0", "qvIfType": 1},
           {"cursor": 7, "fill": "a5", "raw": [{"offset": 0, "hex": "41" * 17}, {"offset": 17, "hex": "42" * 35}]},
           {"cursor": 2147483647, "qvIfName": "top", "qvSSIDName": "", "qvIfMode": -1}]
    assoc = []
    for i in range(6):
        entry = {"first_index": [7, 7, 0, 2147483647, 5, 3][i],
                 "qvClientMac": "02:00:00:00:00:%02x" % i, "qvClientIP": "10.0.0.%d" % (i + 1),
                 "qvClientHostname": "host-%d" % i, "qvClientRSSI": -40 - i,
                 "qvClientRxDataOctets": 4294967295 - i, "qvClientBSSID": "02:aa:00:00:00:%02x" % i,
                 "cursor": 100 + i}
        if i == 1:
            entry["raw"] = [{"offset": 16, "hex": "68" * 36}, {"offset": 80, "hex": "73" * 36},
                            {"offset": 136, "hex": "75" * 164}]
            entry["fill"] = "ff"
        assoc.append(entry)
    radio = [{"cursor": c, "qvRadioTxDataFrames": c * 1000 + 1, "qvRadioRxAirtime": 4294967295} for c in (0, 1)]
    vif = [{"cursor": c, "qvVIfRxDataFrames": c + 5, "fill": "5a"} for c in (10, 11, 20)]
    attrs = [{"cursor": 0, "qvRadioChannel": 6, "qvRadioTxPower": 20, "qvRadioNoiseFloor": -95},
             {"cursor": 1, "qvRadioChannel": 36, "qvRadioTxPower": -2147483648, "qvRadioNoiseFloor": 2147483647,
              "fill": "ee"}]
    return {"interfaces": ifs, "associations": assoc, "radio_stats": radio, "vif_stats": vif,
            "radio_attributes": attrs}


def write_description(directory, doc, name="ap.json"):
    path = os.path.join(directory, name)
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(doc, f)
    os.replace(tmp, path)
    return path


# --- helpers --------------------------------------------------------------------

def walk(client, root=w.QV_ROOT, limit=20000, bulk=True):
    """Walks the subtree; returns {oid: (tag, value)}; bounded by limit."""
    out = {}
    name = root
    for _ in range(limit):
        if bulk:
            _, es, _, vbs = client.ask(w.GETBULK, [name], max_repetitions=25)
        else:
            _, es, _, vbs = client.ask(w.GETNEXT, [name])
        check(es == 0, "walk got error status %d at %s" % (es, name))
        for oid, tag, value in vbs:
            if oid[:len(root)] != root or tag == w.END_OF_MIB_VIEW:
                return out
            check(oid > name, "walk did not advance at %s" % (oid,))
            out[oid] = (tag, value)
            name = oid
    raise Failure("walk did not end within %d steps" % limit)


def check_answers(table):
    """Every answer has its column's type and stays within its field."""
    for oid, (tag, value) in table.items():
        t, col = oid[len(w.QV_ROOT)], oid[len(w.QV_ROOT) + 2]
        kind = KINDS[t][col - 1]
        want = {"S": w.OCTET_STRING, "M": w.OCTET_STRING, "A": w.IPADDRESS, "I": w.INTEGER, "C": w.COUNTER32}[kind]
        check(tag == want, "%s: type 0x%x, expected 0x%x" % (oid, tag, want))
        if kind == "S":
            check(len(value) < STRING_ROOM[(t, col)] + 1 and b"\0" not in value, "%s: string beyond its room" % (oid,))
        if kind == "M":
            check(len(value) == 6, "%s: MAC of %d octets" % (oid, len(value)))
        if kind == "A":
            check(len(value) == 4, "%s: IpAddress of %d octets" % (oid, len(value)))


def sim_stat(port, n):
    client = w.Client(port)
    try:
        es, (_, tag, value) = client.get(SIM_STATS + (n, 0))
    finally:
        client.close()
    check(es == 0 and isinstance(value, int), "sim statistic .99.%d not readable" % n)
    return value


def final_checks(agent, figures, allowed=None):
    check(agent.alive(), "snmpd is not running")
    live = sim_stat(agent.port, 1)
    errors = sim_stat(agent.port, 5)
    figures["live_blocks_at_end"] = live
    figures["release_errors"] = errors
    figures["peak_live_blocks"] = sim_stat(agent.port, 2)
    check(live == 0, "%d row blocks still live" % live)
    check(errors == 0, "%d bad releases" % errors)
    status = agent.stop()
    figures["snmpd_exit_status"] = status
    bad = [line for line in agent.log().splitlines() if MODULE_MESSAGE.search(line) or "qv_wlan_sim" in line
           or "runtime error" in line or "Sanitizer" in line]
    if allowed:
        bad = [line for line in bad if not allowed.search(line)]
    figures["module_error_lines"] = len(bad)
    check(not bad, "error lines in the log:\n" + "\n".join(bad[:20]))
    # 23: LeakSanitizer found leaks at exit; sanitizer_reports() decides whose.
    check(status == 0 or (status == 23 and os.environ.get("QV_SANITIZER_PRELOAD") is not None)
          or (status == 23 and agent.extra_env.get("LD_PRELOAD")), "snmpd exited with status %s" % status)


def make_agent(args, directory, doc=None, generate=None, wrapper=None, extra_config=()):
    env = {}
    if args.preload:
        env["LD_PRELOAD"] = args.preload
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
        env["ASAN_OPTIONS"] = ("detect_leaks=1:abort_on_error=0:exitcode=23:detect_odr_violation=0:log_path="
                               + os.path.join(directory, "asan"))
        env["LSAN_OPTIONS"] = "suppressions=%s:print_suppressions=0" % supp
        env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1:log_path=" + os.path.join(directory, "ubsan")
    config = write_description(directory, doc if doc is not None else description()) if generate is None else None
    return agentmod.Agent(args.module, args.sim, sim_config=config, sim_generate=generate, wrapper=wrapper,
                          env=env, extra_config=["dontLogTCPWrappersConnects yes"] + list(extra_config),
                          start_timeout=120.0 if wrapper else 20.0)


def sanitizer_reports(directory):
    """Sanitizer reports snmpd left in its log files. Memory errors and
    undefined behaviour count wherever they are; a leak counts when its
    allocation stack passes through the module or the simulated data source
    (snmpd's own leftovers at exit are not ours)."""
    found = []
    keep = os.environ.get("QV_KEEP_SANITIZER_LOGS")
    for name in sorted(os.listdir(directory)):
        if not (name.startswith("asan") or name.startswith("ubsan")):
            continue
        if keep:
            os.makedirs(keep, exist_ok=True)
            shutil.copy(os.path.join(directory, name), keep)
        with open(os.path.join(directory, name), errors="replace") as f:
            text = f.read()
        if "runtime error" in text or re.search(r"ERROR: AddressSanitizer", text):
            found.append(text)
        for leak in re.split(r"\n(?=(?:Direct|Indirect) leak)", text):
            # Modules are unloaded before LeakSanitizer symbolizes, so their
            # frames show as <unknown module>.
            if leak.startswith(("Direct leak", "Indirect leak")) and re.search(
                    r"qv_if_iterate|qv_wlan_sim|qv::|<unknown module>", leak):
                found.append(leak)
    return found


def check_sanitizer_reports(directory):
    reports = sanitizer_reports(directory)
    check(not reports, "sanitizer reports:\n" + "\n".join(reports)[:8000])


# --- malformed and hostile messages ----------------------------------------------

def hostile_oids(rng, known):
    """OIDs before, inside, after and far past every table, with indexes out of
    range, too long, or with a wrong MAC length."""
    t = rng.randint(1, 6)
    base = w.QV_ROOT + (t,)
    n = KINDS.get(t, "x" * 3)
    big = rng.choice([0, 1, 2147483647, 2147483648, 4294967295, rng.randint(0, 4294967295)])
    choice = rng.randint(0, 13)
    if choice == 0:
        return w.QV_ROOT[:rng.randint(1, len(w.QV_ROOT))]
    if choice == 1:
        return base
    if choice == 2:
        return base + (rng.choice([0, 1, 2, big]),)
    if choice == 3:
        return base + (1, rng.choice([0, 1, len(n), len(n) + 1, big]))
    if choice == 4:
        return base + (1, rng.randint(0, len(n) + 1), big)
    if choice == 5:  # association index with a wrong MAC length
        mac_len = rng.choice([0, 1, 5, 7, 8, 255, big])
        return w.QV_ROOT + (2, 1, rng.randint(1, 37), rng.choice([7, 0, big]), mac_len) + tuple(
            rng.randint(0, 300) for _ in range(min(mac_len, rng.randint(0, 10))))
    if choice == 6:  # too long an index
        return base + (1, rng.randint(1, 3)) + tuple(rng.randint(0, 4294967295) for _ in range(rng.randint(2, 40)))
    if choice == 7:  # very long OID, past what the agent accepts
        return base + tuple(rng.randint(0, 255) for _ in range(rng.randint(100, 140)))
    if choice == 8:
        return w.QV_ROOT[:-1] + (rng.choice([0, 3, 99, 100, big]),)
    if choice == 9:
        return (1, 3, 6, 1, 4, 1, 32473, 2)
    if choice == 10 and known:
        o = rng.choice(known)
        return o[:-1] + (o[-1] + rng.choice([-1, 1]),) if o[-1] > 0 else o
    if choice == 11 and known:
        return rng.choice(known)
    if choice == 12:
        return SIM_STATS + (rng.randint(0, 9),)
    return tuple(rng.randint(0, 4294967295) for _ in range(rng.randint(0, 3)))


def set_value(rng):
    return rng.choice([w.integer(rng.randint(-2 ** 31, 2 ** 31 - 1)), w.tlv(w.OCTET_STRING, os.urandom(rng.randint(0, 200))),
                       w.tlv(w.IPADDRESS, os.urandom(4)), w.integer(rng.randint(0, 2 ** 32 - 1), w.COUNTER32),
                       w.tlv(w.NULL, b"")])


def corrupt(rng, packet):
    p = bytearray(packet)
    how = rng.randint(0, 7)
    if how == 0 and len(p) > 1:
        return bytes(p[:rng.randint(0, len(p) - 1)])
    if how == 1:
        for _ in range(rng.randint(1, 8)):
            p[rng.randrange(len(p))] = rng.randint(0, 255)
        return bytes(p)
    if how == 2:  # a length field claiming far more than there is
        i = rng.randrange(1, len(p))
        return bytes(p[:i]) + bytes([0x84, 0xFF, 0xFF, 0xFF, rng.randint(0, 255)]) + bytes(p[i + 1:])
    if how == 3:  # indefinite length, forbidden in SNMP
        i = rng.randrange(1, len(p))
        return bytes(p[:i]) + b"\x80" + bytes(p[i + 1:]) + b"\x00\x00"
    if how == 4:
        i = rng.randrange(len(p))
        return bytes(p[:i]) + os.urandom(rng.randint(1, 16)) + bytes(p[i:])
    if how == 5:  # deep nesting
        body = b""
        for _ in range(rng.randint(10, 200)):
            body = w.tlv(w.SEQUENCE, body)
        return body
    if how == 6:
        return os.urandom(rng.randint(0, 1400))
    return bytes(p) + os.urandom(rng.randint(1, 32))


def v3_shell(rng, scoped):
    flags = bytes([rng.choice([0, 1, 3, 4, 7, 255])])
    header = w.tlv(w.SEQUENCE, w.integer(rng.randint(0, 2 ** 31 - 1)) + w.integer(rng.choice([484, 65507, 0, -1]))
                   + w.tlv(w.OCTET_STRING, flags) + w.integer(rng.choice([3, 0, 1, 99])))
    usm = w.tlv(w.SEQUENCE, w.tlv(w.OCTET_STRING, os.urandom(rng.randint(0, 32))) + w.integer(rng.randint(0, 10))
                + w.integer(rng.randint(0, 100)) + w.tlv(w.OCTET_STRING, rng.choice([b"", b"qvrobust", os.urandom(40)]))
                + w.tlv(w.OCTET_STRING, os.urandom(rng.choice([0, 12, 24]))) + w.tlv(w.OCTET_STRING, b""))
    scoped_pdu = w.tlv(w.SEQUENCE, w.tlv(w.OCTET_STRING, b"") + w.tlv(w.OCTET_STRING, b"") + scoped)
    return w.tlv(w.SEQUENCE, w.integer(3) + header + w.tlv(w.OCTET_STRING, usm) + scoped_pdu)


def hostile_packet(rng, known):
    kind = rng.choice([w.GET, w.GETNEXT, w.GETBULK, w.GETBULK, w.SET])
    names = [hostile_oids(rng, known) for _ in range(rng.choice([1, 1, 2, 5, 40]))]
    rid = rng.randint(-2 ** 31, 2 ** 31 - 1)
    if kind == w.GETBULK:
        body = w.pdu(w.GETBULK, rid, names, rng.choice([0, 1, -1, 2 ** 31 - 1, len(names) + 1]),
                     rng.choice([0, 1, 10, 100, 65535, 2 ** 31 - 1, -5]))
    elif kind == w.SET:
        body = w.pdu(w.SET, rid, names, values=[set_value(rng) for _ in names])
    else:
        body = w.pdu(kind, rid, names)
    version = rng.choice([0, 1, 1, 1, 2, 3, 99, -1])
    community = rng.choice([b"public", b"public", b"private", b"wrong", b"", os.urandom(300)])
    r = rng.random()
    if r < 0.15:
        packet = v3_shell(rng, body)
    else:
        packet = w.message(version, community, body)
    if rng.random() < 0.35:
        packet = corrupt(rng, packet)
    return packet


def run_malformed(args):
    rng = random.Random(args.seed)
    deadline = Deadline(args.time_limit)
    figures = {"packets": 0, "checks": 0, "answered": 0}
    with tempfile.TemporaryDirectory(prefix="qv-malformed-") as directory:
        agent = make_agent(args, directory)
        with agent:
            client = w.Client(agent.port)
            baseline = walk(client)
            check(len(baseline) > 100, "baseline walk found only %d values" % len(baseline))
            check_answers(baseline)
            known = list(baseline)
            raw = w.Client(agent.port)
            while figures["packets"] < args.packets:
                deadline.check()
                burst = min(args.burst, args.packets - figures["packets"])
                for _ in range(burst):
                    raw.send_raw(hostile_packet(rng, known))
                figures["packets"] += burst
                # The next well-formed request is answered correctly.
                check(agent.alive(), "snmpd died after %d packets" % figures["packets"])
                names = rng.sample(known, 3)
                _, es, _, vbs = client.ask(w.GET, names)
                check(es == 0, "GET after hostile packets: error status %d" % es)
                for name, (oid, tag, value) in zip(names, vbs):
                    check((oid, tag, value) == (name, *baseline[name]), "wrong answer for %s: %r" % (name, (tag, value)))
                figures["checks"] += 1
                # Answers to the burst are in by now: the agent works in order.
                figures["answered"] += raw.drain()
            check(walk(client) == baseline, "the tables changed under hostile traffic")
            client.close()
            raw.close()
            final_checks(agent, figures)
        check_sanitizer_reports(directory)
    return figures


# --- writes are refused ----------------------------------------------------------

def set_value_for(kind):
    return {"S": w.tlv(w.OCTET_STRING, b"changed"), "M": w.tlv(w.OCTET_STRING, b"\x02\x00\x00\x00\x00\x99"),
            "A": w.tlv(w.IPADDRESS, b"\x01\x02\x03\x04"), "I": w.integer(4242), "C": w.integer(4242, w.COUNTER32)}[kind]


def snmpset_type(kind):
    return {"S": ("s", "changed"), "M": ("x", "020000000099"), "A": ("a", "1.2.3.4"), "I": ("i", "4242"),
            "C": ("u", "4242")}[kind]


def run_set_refusal(args):
    figures = {"sets_v1": 0, "sets_v2c": 0, "sets_v3": 0}
    with tempfile.TemporaryDirectory(prefix="qv-set-") as directory:
        agent = make_agent(args, directory)
        with agent:
            client = w.Client(agent.port)
            baseline = walk(client)
            # One existing instance per table, plus one that does not exist.
            targets = []
            for t, kinds in KINDS.items():
                rows = sorted({o[len(w.QV_ROOT) + 3:] for o in baseline if o[len(w.QV_ROOT)] == t})
                check(rows, "table %d is empty" % t)
                for col in range(1, len(kinds) + 1):
                    for index in (rows[0], (999999,) if t != 2 else (1, 6, 9, 9, 9, 9, 9, 9)):
                        targets.append((w.QV_ROOT + (t, 1, col) + index, kinds[col - 1]))
            for version, community, key in ((0, b"private", "sets_v1"), (1, b"private", "sets_v2c"),
                                            (1, b"public", "sets_v2c")):
                c = w.Client(agent.port, community=community)
                for name, kind in targets:
                    rid = c.next_id
                    c.next_id += 1
                    c.send_raw(w.message(version, community, w.pdu(w.SET, rid, [name], values=[set_value_for(kind)])))
                    got = None
                    for _ in range(50):
                        data = c.sock.recv(65535)
                        got = w.decode_response(data)
                        if got[0] == rid:
                            break
                    check(got and got[0] == rid, "no answer to SET %s" % (name,))
                    check(got[1] != 0, "SET of %s over v%d accepted" % (name, version + 1 if version < 2 else 3))
                    figures[key] += 1
                c.close()
            # SNMPv3, authPriv user with write access in snmpd.conf.
            for name, kind in targets[::2] + targets[1::2]:
                t, v = snmpset_type(kind)
                cmd = ["snmpset", "-v3", "-l", "authPriv", "-u", agentmod.V3_USER, "-a", "SHA", "-A", agentmod.V3_AUTH,
                       "-x", "AES", "-X", agentmod.V3_PRIV, "-t", "3", "-r", "1", "-m", "", "-On",
                       "127.0.0.1:%d" % agent.port, ".".join(map(str, name)), t, v]
                r = subprocess.run(cmd, capture_output=True, text=True, timeout=30)
                out = r.stdout + r.stderr
                check(r.returncode != 0 and ("notWritable" in out or "noAccess" in out or "noCreation" in out
                                             or "not writable" in out.lower()),
                      "v3 SET of %s not refused: %s" % (name, out.strip()))
                figures["sets_v3"] += 1
            check(walk(client) == baseline, "a refused SET changed a value")
            client.close()
            final_checks(agent, figures)
        check_sanitizer_reports(directory)
    return figures


# --- misbehaving data source -------------------------------------------------------

def run_misbehaving(args):
    figures = {"cases": 0}
    with tempfile.TemporaryDirectory(prefix="qv-misbehave-") as directory:
        agent = make_agent(args, directory)
        with agent:
            client = w.Client(agent.port)
            # Strings that fill their room with no NUL come back whole and no longer.
            table = walk(client)
            check_answers(table)
            check(table[w.QV_ROOT + (1, 1, 1, 7)] == (w.OCTET_STRING, b"A" * 17), "unterminated qvIfName")
            check(table[w.QV_ROOT + (1, 1, 2, 7)] == (w.OCTET_STRING, b"B" * 35), "unterminated qvSSIDName")
            mac1 = (7, 6, 2, 0, 0, 0, 0, 1)
            check(table[w.QV_ROOT + (2, 1, 15) + mac1] == (w.OCTET_STRING, b"u" * 164), "unterminated qvClientUsername")
            figures["cases"] += 1
            # Entries that change between walks: rewritten descriptions, an
            # invalid one (all tables empty), then back.
            rng = random.Random(args.seed)
            for round_ in range(args.rounds):
                doc = description()
                rng.shuffle(doc["associations"])
                doc["associations"] = doc["associations"][:rng.randint(0, 6)]
                for e in doc["interfaces"]:
                    e["cursor"] = rng.randint(0, 2 ** 31 - 1) if e["cursor"] != 7 else 7
                if round_ % 5 == 4:
                    doc["interfaces"].append({"cursor": "broken"})
                time.sleep(0.02)
                write_description(directory, doc)
                got = walk(client)
                check_answers(got)
                if round_ % 5 == 4:
                    check(not got, "an invalid description still served rows")
                figures["cases"] += 1
            write_description(directory, description())
            time.sleep(0.02)
            check(walk(client) == table, "the original description did not come back")
            client.close()
            # The sim reports each invalid description once; nothing else may appear.
            final_checks(agent, figures, allowed=re.compile(r"qv_wlan_sim: .*: interfaces\[3\]\.cursor: .*all tables are empty"))
        # Thousands of rows.
        agent = make_agent(args, directory, generate="clients=%d,vifs=%d,radios=64" % (args.clients, args.vifs))
        with agent:
            client = w.Client(agent.port, timeout=10)
            big = walk(client, limit=100000)
            rows = {o[len(w.QV_ROOT)]: set() for o in big}
            for o in big:
                rows[o[len(w.QV_ROOT)]].add(o[len(w.QV_ROOT) + 3:])
            check(len(rows.get(2, ())) == args.clients, "association rows: %d" % len(rows.get(2, ())))
            check(len(rows.get(4, ())) == args.vifs, "vif rows: %d" % len(rows.get(4, ())))
            figures["big_walk_values"] = len(big)
            figures["cases"] += 1
            client.close()
            final_checks(agent, figures)
        check_sanitizer_reports(directory)
    return figures


def run_misbehaving_ds(args):
    """The test-only data source of misbehaving_datasource.c: repeated
    cursors, failures in the middle of a walk, random failures with junk
    records. snmpd stays up, walks end, answers keep their types and sizes,
    and every row block is released exactly as counted."""
    figures = {"modes": 0, "values": 0}
    for mode in ("repeat", "midwalk", "flaky"):
        with tempfile.TemporaryDirectory(prefix="qv-misbehave-ds-") as directory:
            report = os.path.join(directory, "report")
            agent = agentmod.Agent(args.module, args.test_ds, sim_name="qv_test_misbehaving_ds",
                                   env=dict(make_agent(args, directory).extra_env, QV_MISBEHAVE=mode,
                                            QV_MISBEHAVE_REPORT=report),
                                   extra_config=["dontLogTCPWrappersConnects yes"])
            with agent:
                client = w.Client(agent.port)
                for _ in range(args.rounds):
                    table = walk(client, limit=5000)
                    check_answers(table)
                    figures["values"] += len(table)
                    check(table, "no rows served: the module did not reach the %s data source" % mode)
                    for t in KINDS:
                        client.ask(w.GET, [w.QV_ROOT + (t, 1, 1, 1), w.QV_ROOT + (t, 1, 2, 4)])
                        client.ask(w.GETBULK, [w.QV_ROOT + (t, 1, 1)], max_repetitions=50)
                check(agent.alive(), "snmpd died with the %s data source" % mode)
                client.close()
                status = agent.stop()
                check(status in (0, 23), "snmpd exited with %s" % status)
                bad = [line for line in agent.log().splitlines() if MODULE_MESSAGE.search(line)]
                check(not bad, "module errors: %s" % bad[:5])
            with open(report) as f:
                counts = dict(kv.split("=") for kv in f.read().split())
            figures[mode] = counts
            check(counts["live"] == "0" and counts["bad_releases"] == "0" and counts["filled"] == counts["freed"],
                  "%s: row blocks not released as counted: %s" % (mode, counts))
            check_sanitizer_reports(directory)
            figures["modes"] += 1
    return figures


# --- soak ----------------------------------------------------------------------------

def soak_worker(port, seed, count, known, baseline_items, result_queue):
    rng = random.Random(seed)
    baseline = dict(baseline_items)
    client = w.Client(port, timeout=5, retries=3)
    errors = 0
    done = 0
    try:
        for _ in range(count):
            r = rng.random()
            name = rng.choice(known)
            if r < 0.4:
                _, es, _, vbs = client.ask(w.GET, [name])
                if es or vbs[0][1:] != baseline[name]:
                    errors += 1
            elif r < 0.8:
                _, es, _, vbs = client.ask(w.GETNEXT, [name])
                if es or not vbs or vbs[0][0] <= name:
                    errors += 1
            else:
                _, es, _, vbs = client.ask(w.GETBULK, [name], max_repetitions=rng.choice([5, 10, 25]))
                if es or not vbs:
                    errors += 1
            done += 1
    except Exception as e:  # reported, counted as failure
        errors += 1
        print("soak worker:", e, file=sys.stderr)
    client.close()
    result_queue.put((done, errors))


def run_soak(args):
    figures = {"requests": 0, "clients": args.clients_n}
    deadline = Deadline(args.time_limit)
    with tempfile.TemporaryDirectory(prefix="qv-soak-") as directory:
        agent = make_agent(args, directory)
        with agent:
            client = w.Client(agent.port)
            baseline = walk(client)
            known = sorted(baseline)
            items = list(baseline.items())
            samples = []
            phases = args.phases
            per_phase = args.requests // phases
            start = time.monotonic()
            for phase in range(phases):
                deadline.check()
                q = multiprocessing.Queue()
                workers = [multiprocessing.Process(target=soak_worker,
                                                   args=(agent.port, args.seed * 1000 + phase * 100 + i,
                                                         per_phase // args.clients_n, known, items, q))
                           for i in range(args.clients_n)]
                for p in workers:
                    p.start()
                results = [q.get(timeout=max(1.0, deadline.end - time.monotonic())) for _ in workers]
                for p in workers:
                    p.join(30)
                done = sum(r[0] for r in results)
                errs = sum(r[1] for r in results)
                figures["requests"] += done
                check(errs == 0, "%d wrong or missing answers in phase %d" % (errs, phase))
                check(agent.alive(), "snmpd died")
                samples.append(agent.rss_kib())
            elapsed = time.monotonic() - start
            figures["seconds"] = round(elapsed, 1)
            figures["requests_per_second"] = round(figures["requests"] / elapsed)
            warm = samples[args.warmup_phases - 1] if len(samples) >= args.warmup_phases else samples[0]
            figures["rss_kib_samples"] = samples
            figures["rss_kib_after_warmup"] = warm
            figures["rss_kib_end"] = samples[-1]
            growth = (samples[-1] - warm) / warm * 100.0
            figures["rss_growth_percent"] = round(growth, 2)
            check(walk(client) == baseline, "the tables changed during the soak")
            client.close()
            # Under AddressSanitizer the quarantine of freed memory grows
            # resident memory by design: the figure is recorded, not judged.
            if not args.preload:
                check(growth <= 1.0, "resident memory grew %.2f%% after warm-up" % growth)
            final_checks(agent, figures)
        check_sanitizer_reports(directory)
    return figures


# --- valgrind ------------------------------------------------------------------------

def run_valgrind(args):
    figures = {}
    with tempfile.TemporaryDirectory(prefix="qv-valgrind-") as directory:
        vlog = os.path.join(directory, "valgrind.log")
        wrapper = ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite",
                   "--num-callers=40", "--log-file=" + vlog]
        agent = make_agent(args, directory, wrapper=wrapper)
        with agent:
            client = w.Client(agent.port, timeout=10, retries=3)
            baseline = walk(client)
            check_answers(baseline)
            known = sorted(baseline)
            rng = random.Random(args.seed)
            for _ in range(3):
                check(walk(client, bulk=False) == baseline, "GETNEXT walk differs")
            for name in known:
                _, es, _, vbs = client.ask(w.GET, [name])
                check(es == 0 and vbs[0][1:] == baseline[name], "GET %s" % (name,))
            for t in KINDS:  # rows that do not exist
                _, es, _, vbs = client.ask(w.GET, [w.QV_ROOT + (t, 1, 1, 424242)])
                check(vbs[0][1] in (w.NO_SUCH_INSTANCE, w.NO_SUCH_OBJECT), "missing row answered")
            raw = w.Client(agent.port)
            for i in range(args.packets):
                raw.send_raw(hostile_packet(rng, known))
                if i % 50 == 49:
                    raw.drain()
                    client.get(known[0])
            raw.close()
            client.close()
            final_checks(agent, figures)
        with open(vlog, errors="replace") as f:
            text = f.read()
        if os.environ.get("QV_VALGRIND_LOG"):
            shutil.copy(vlog, os.environ["QV_VALGRIND_LOG"])
        invalid = len(re.findall(r"Invalid (read|write|free)", text))
        uninit = len(re.findall(r"uninitialised value", text))
        # Definitely lost records whose stack passes through the module or the sim.
        ours = 0
        startup = 0
        for block in re.split(r"\n(?===\d+== \S)", text):
            if "definitely lost" not in block:
                continue
            # dlmod modules are unloaded before valgrind reports, so their
            # frames show as ???. Registrations made at start-up (through
            # read_config's dlmod directive) stay with the agent until exit
            # by design; anything else in unloaded code is a leak of ours.
            if "qv_if_iterate" in block or "qv_wlan_sim" in block:
                ours += 1
            elif re.search(r"by 0x[0-9A-F]+: \?\?\?\n", block + "\n"):
                if "read_config" in block:
                    startup += 1
                else:
                    ours += 1
        m = re.search(r"definitely lost: ([\d,]+) bytes in ([\d,]+) blocks", text)
        figures.update({"invalid_accesses": invalid, "uninitialised_uses": uninit,
                        "definitely_lost_module_records": ours,
                        "definitely_lost_startup_registrations": startup,
                        "definitely_lost_total": m.group(0) if m else "none reported"})
        if invalid or ours:
            shutil.copy(vlog, os.path.join(tempfile.gettempdir(), "qv-valgrind-failed.log"))
        check(invalid == 0, "valgrind: %d invalid accesses (log copied to /tmp/qv-valgrind-failed.log)" % invalid)
        check(ours == 0, "valgrind: %d definitely lost records from the module or the sim" % ours)
    return figures


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("run", choices=["malformed", "set-refusal", "misbehaving", "misbehaving-ds", "soak", "valgrind"])
    ap.add_argument("--test-ds", help="misbehaving_datasource .so (misbehaving-ds)")
    ap.add_argument("--module", required=True)
    ap.add_argument("--sim", required=True)
    ap.add_argument("--preload", default=os.environ.get("QV_SANITIZER_PRELOAD", ""))
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--time-limit", type=float, default=600)
    ap.add_argument("--packets", type=int, default=2000)
    ap.add_argument("--burst", type=int, default=100)
    ap.add_argument("--rounds", type=int, default=20)
    ap.add_argument("--clients", type=int, default=3000, help="association rows (misbehaving)")
    ap.add_argument("--vifs", type=int, default=1000)
    ap.add_argument("--requests", type=int, default=20000)
    ap.add_argument("--clients-n", type=int, default=4, help="concurrent soak clients")
    ap.add_argument("--phases", type=int, default=10)
    ap.add_argument("--warmup-phases", type=int, default=2)
    args = ap.parse_args()
    runs = {"malformed": run_malformed, "set-refusal": run_set_refusal, "misbehaving": run_misbehaving,
            "misbehaving-ds": run_misbehaving_ds,
            "soak": run_soak, "valgrind": run_valgrind}
    start = time.monotonic()
    try:
        figures = runs[args.run](args)
    except Failure as e:
        print("FAILED %s: %s" % (args.run, e))
        return 1
    figures["wall_seconds"] = round(time.monotonic() - start, 1)
    print("FIGURES %s %s" % (args.run, json.dumps(figures, sort_keys=True)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
