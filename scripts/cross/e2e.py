#!/usr/bin/env python3
"""End to end on a foreign processor: the target's snmpd runs under
user-mode QEMU with the cross-built module and the cross-built simulated data
source, and the build machine's own Net-SNMP client reads every column of
every table over 127.0.0.1 with GET, GETNEXT (snmpwalk) and GETBULK
(snmpbulkwalk).

The description given to the simulated access point is chosen so that any
byte-order slip shows: 32-bit values whose four bytes all differ
(0x01020304 must arrive as 16909060), negative INTEGERs, Counter32 values at
the top of the range, index values above 255, an IPv4 address and MACs that
must arrive as the same octets in the same order.

Usage: e2e.py --arch s390x --sysroot DIR --module qv_if_iterate.so
              --sim qv_wlan_sim.so --work DIR [--snmpd PATH] [--load preload|dlmod]
Exit status 0 when every value matches.
"""

import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BASE = (1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1)
COMMUNITY = "public"

# Table number -> (X-macro in src/tables/qv_tables.h, key of the description)
TABLES = {
    1: ("QV_XIF_COLUMNS", "interfaces"),
    2: ("QV_ASSOCIATION_COLUMNS", "associations"),
    3: ("QV_RADIO_STATS_COLUMNS", "radio_stats"),
    4: ("QV_VIF_STATS_COLUMNS", "vif_stats"),
    5: ("QV_RADIO_ATTRIBUTE_COLUMNS", "radio_attributes"),
}


def read_columns():
    """The column lists, straight from the module's own X-macros."""
    text = open(os.path.join(ROOT, "src/tables/qv_tables.h")).read()
    columns = {}
    for table, (macro, _) in TABLES.items():
        m = re.search(r"#define %s\(X, R\)(.*?)(?:\n\n|\n#)" % macro, text, re.S)
        if not m:
            sys.exit("e2e: %s not found in qv_tables.h" % macro)
        cols = [(int(n), name, kind) for n, name, kind in
                re.findall(r"X\(R, (\d+), (\w+), (\w+)\)", m.group(1))]
        if not cols:
            sys.exit("e2e: no columns in %s" % macro)
        columns[table] = cols
    return columns


def int_value(table, row, seq):
    """Signed INTEGER test values: the first one of each table is 0x01020304
    (16909060), every byte of every value differs, odd rows are negative."""
    v = 0x01020304 + seq * 0x00010101 + (table * 0x00100000 if seq else 0)
    return -v if row % 2 else v


def counter_value(table, row, seq):
    """Counter32 test values: like int_value on even rows, near 2^32 on odd
    ones (4294967295 first), so they must not come back signed."""
    if row % 2:
        return 4294967295 - seq - (table * 0x100 if seq else 0)
    return 0x01020304 + seq * 0x01000101 + (table * 0x00100000 if seq else 0)


def mac(table, row, col):
    # 00:11:22:33:44:55 first: the leading zero octet would vanish in any
    # conversion through a number.
    if row == 0 and col == 1:
        return bytes([0x00, 0x11, 0x22, 0x33, 0x44, 0x55])
    return bytes([0xA0 + row, 0xB1, 0xC2, 0xD3 + col, 0xE4 + table, 0xF5])


def string_value(table, row, col, room):
    """Printable strings, one of them filling its room, one empty."""
    if row == 1 and col == 1:
        return b"abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[: room - 1]
    if row == 1 and col == 2:
        return b""
    return ("t%d-r%d-c%d" % (table, row, col)).encode()


STRING_ROOM = {"qvIfName": 17, "qvSSIDName": 35, "qvClientHostname": 36,
               "qvClientSSID": 36, "qvClientUsername": 164}


def make_description(columns):
    """Returns (description dict, expected {oid tuple: (kind, value)})."""
    desc = {}
    expected = {}
    for table, cols in columns.items():
        _, key = TABLES[table]
        rows = []
        for row in range(2):
            entry = {}
            values = {}
            seq = 0  # numeric columns so far in this row
            for n, name, kind in cols:
                if kind == "Integer":
                    v = int_value(table, row, seq)
                    seq += 1
                    if name == "qvClientRSSI":
                        v = -61 if row == 0 else -90
                    entry[name] = v
                    values[n] = ("INTEGER", v)
                elif kind == "Counter32":
                    v = counter_value(table, row, seq)
                    seq += 1
                    entry[name] = v
                    values[n] = ("Counter32", v)
                elif kind == "IpAddress":
                    ip = "192.168.1.10" if row == 0 else "10.0.255.1"
                    entry[name] = ip
                    values[n] = ("IpAddress", ip)
                elif kind == "Mac":
                    b = mac(table, row, n)
                    entry[name] = ":".join("%02x" % x for x in b)
                    values[n] = ("OCTET STRING", b)
                elif kind == "String":
                    s = string_value(table, row, n, STRING_ROOM.get(name, 17))
                    entry[name] = s.decode()
                    values[n] = ("OCTET STRING", s)
                else:
                    sys.exit("e2e: unknown column kind %s" % kind)
            if table == 2:
                # Two-part index: the first index (above 255, so its bytes
                # matter) and the client MAC as length + six octets.
                first_index = [16909060, 3][row]
                entry["first_index"] = first_index
                entry["cursor"] = 40 + row
                client = mac(table, row, 1)
                index = (first_index, 6) + tuple(client)
            else:
                cursor = [0, 0x01020304][row] + table
                entry["cursor"] = cursor
                index = (cursor,)
            rows.append(entry)
            for n, value in values.items():
                expected[BASE + (table, 1, n) + index] = value
        desc[key] = rows
    return desc, expected


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def oid_str(oid):
    return "." + ".".join(str(x) for x in oid)


def parse_output(text):
    """snmpget/snmpwalk -On -Ox output -> {oid tuple: (kind, value)}; hex
    strings may run over several lines."""
    records = []
    for line in text.splitlines():
        if line.startswith(".1."):
            records.append(line)
        elif records and line.strip():
            records[-1] += " " + line.strip()
    result = {}
    for rec in records:
        name, _, rest = rec.partition(" = ")
        oid = tuple(int(x) for x in name.strip(".").split("."))
        rest = rest.strip()
        if rest.startswith("Hex-STRING:"):
            value = ("OCTET STRING", bytes(int(h, 16) for h in rest.split(":", 1)[1].split()))
        elif rest == '""' or rest == 'STRING: ""':
            value = ("OCTET STRING", b"")
        elif rest.startswith("STRING:"):
            s = rest.split(":", 1)[1].strip()
            value = ("OCTET STRING", s[1:-1].encode() if s.startswith('"') else s.encode())
        elif rest.startswith("INTEGER:"):
            value = ("INTEGER", int(rest.split(":", 1)[1]))
        elif rest.startswith("Counter32:"):
            value = ("Counter32", int(rest.split(":", 1)[1]))
        elif rest.startswith("IpAddress:"):
            value = ("IpAddress", rest.split(":", 1)[1].strip())
        else:
            value = ("OTHER", rest)
        result[oid] = value
    return result


def show(value):
    kind, v = value
    if kind == "OCTET STRING":
        return "%s %s" % (kind, v.hex(":") if v else '""')
    return "%s %s" % (kind, v)


class Agent:
    def __init__(self, args, work, config):
        self.args = args
        self.work = work
        self.config = config
        self.proc = None
        self.port = None
        self.log = os.path.join(work, "snmpd.log")

    def start(self):
        a = self.args
        conf = os.path.join(self.work, "snmpd.conf")
        lines = ["rocommunity %s 127.0.0.1" % COMMUNITY]
        env = ["QV_SIM_CONFIG=" + self.config, "MIBS=", "MIBDIRS=" + self.work]
        if a.load == "dlmod":
            lines.append("dlmod qv_wlan_sim %s" % os.path.abspath(a.sim))
        else:
            env.append("LD_PRELOAD=" + os.path.abspath(a.sim))
        lines.append("dlmod qv_if_iterate %s" % os.path.abspath(a.module))
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        for attempt in range(3):
            self.port = free_udp_port()
            cmd = [a.qemu, "-L", a.sysroot]
            for e in env:
                cmd += ["-E", e]  # for the guest, not for qemu itself
            cmd += [a.snmpd, "-f", "-C", "-c", conf, "-Lf", self.log,
                    "-I", "-smux",  # no listener beyond the test's port
                    "-p", os.path.join(self.work, "snmpd.pid"),
                    "udp:127.0.0.1:%d" % self.port]
            print("starting:", " ".join(cmd), flush=True)
            t0 = time.monotonic()
            self.proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                                         start_new_session=True)
            deadline = t0 + 60
            while time.monotonic() < deadline and self.proc.poll() is None:
                r = self.snmp("snmpgetnext", [oid_str(BASE)], timeout=1, check=False)
                if r.returncode == 0 and r.stdout.startswith(".1."):
                    print("agent answers after %.1f s on port %d" % (time.monotonic() - t0, self.port), flush=True)
                    return
                time.sleep(0.3)
            self.stop()
            print("agent did not come up (attempt %d):\n%s" % (attempt + 1, self.log_text()), flush=True)
        raise SystemExit("e2e: snmpd under %s did not answer" % a.qemu)

    def snmp(self, tool, oids, timeout=5, check=True, extra=()):
        cmd = [tool, "-v2c", "-c", COMMUNITY, "-On", "-Ox", "-m", "", "-M", self.work,
               "-t", str(timeout), "-r", "1"] + list(extra) + ["127.0.0.1:%d" % self.port] + oids
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=120)
        if check and r.returncode != 0:
            raise SystemExit("e2e: %s failed (%d): %s" % (" ".join(cmd), r.returncode, r.stderr))
        return r

    def log_text(self):
        try:
            return open(self.log).read()
        except OSError:
            return ""

    def stop(self):
        if self.proc and self.proc.poll() is None:
            # The process group is ours: qemu and the guest snmpd in it.
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(timeout=10)
        self.proc = None


def compare(what, got, expected, columns):
    names = {(t, n): name for t, cols in columns.items() for n, name, _ in cols}
    problems = []
    for oid, want in sorted(expected.items()):
        have = got.get(oid)
        label = "%s %s" % (names.get((oid[12], oid[14]), "?"), oid_str(oid))
        if have is None:
            problems.append("%s: missing, want %s" % (label, show(want)))
        elif have != want:
            problems.append("%s: got %s, want %s" % (label, show(have), show(want)))
    for oid in sorted(set(got) - set(expected)):
        problems.append("%s: unexpected %s" % (oid_str(oid), show(got[oid])))
    print("%s: %d values, %d problems" % (what, len(got), len(problems)), flush=True)
    for p in problems[:60]:
        print("  " + p)
    return not problems


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--arch", required=True)
    p.add_argument("--sysroot", required=True)
    p.add_argument("--module", required=True)
    p.add_argument("--sim", required=True)
    p.add_argument("--work", required=True)
    p.add_argument("--snmpd", help="snmpd inside the sysroot (default SYSROOT/usr/sbin/snmpd)")
    p.add_argument("--load", choices=["preload", "dlmod"], default="preload")
    args = p.parse_args()
    args.qemu = shutil.which("qemu-" + {"powerpc": "ppc"}.get(args.arch, args.arch))
    if not args.qemu:
        sys.exit("e2e: qemu-%s not found (install qemu-user)" % args.arch)
    args.snmpd = args.snmpd or os.path.join(args.sysroot, "usr/sbin/snmpd")

    os.makedirs(args.work, exist_ok=True)
    columns = read_columns()
    desc, expected = make_description(columns)
    config = os.path.join(args.work, "access-point.json")
    with open(config, "w") as f:
        json.dump(desc, f, indent=1)

    agent = Agent(args, args.work, config)
    ok = True
    t0 = time.monotonic()
    try:
        agent.start()
        root = oid_str(BASE)
        walk = parse_output(agent.snmp("snmpwalk", [root]).stdout)
        ok &= compare("GETNEXT walk", walk, expected, columns)
        bulk = parse_output(agent.snmp("snmpbulkwalk", [root], extra=["-Cr20"]).stdout)
        ok &= compare("GETBULK walk", bulk, expected, columns)
        # GET of every instance, one row of one table per request.
        got = {}
        rows = sorted({oid[:13] + oid[15:] for oid in expected})
        for row in rows:
            oids = [oid_str(o) for o in sorted(expected) if o[:13] + o[15:] == row]
            got.update(parse_output(agent.snmp("snmpget", oids).stdout))
        ok &= compare("GET", got, expected, columns)
        # A row that does not exist.
        r = agent.snmp("snmpget", [oid_str(BASE + (5, 1, 1, 999))], check=False)
        if "No Such Instance" not in r.stdout:
            print("GET of a missing row: want noSuchInstance, got %r %r" % (r.stdout, r.stderr))
            ok = False
        else:
            print("GET of a missing row: noSuchInstance")
    finally:
        agent.stop()
    log = agent.log_text()
    if re.search(r"dlmod|error|problem", log, re.I) and not ok:
        print("snmpd log:\n" + log)
    print("e2e on %s: %s in %.1f s" % (args.arch, "PASS" if ok else "FAIL", time.monotonic() - t0))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
