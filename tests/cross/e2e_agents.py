# SPDX-License-Identifier: BSD-3-Clause
"""Every column of every table, byte-exact, read by the build machine's client.

e2e_agents.py: from the snmpd the fixture is given (a target's snmpd under
qemu-user: QV_SNMPD, QV_AGENT_WRAPPER; or a musl one) with GETNEXT, GETBULK and
GET. The rows make
byte-order slips show: 32-bit values with four different bytes (0x01020304 must
arrive as 16909060), negative INTEGERs, Counter32 values near 2^32, indexes
above 255, MACs with a leading zero octet. The data source is the simulated one
(the rows as a JSON description) or tests/robustness/qv_test_datasource.c
(the same rows as records).

e2e_agents.py agentx: the module in an AgentX subagent (snmpd -X) next to a
master snmpd that knows nothing of it, each subagent with the shipped
subagent configuration's settings and started where the master keeps its
persistent data (both default to the same directory): every table through
the master over v2c and v3; the subagent killed, the master still answers its
own objects and no stale table; a new subagent brings them back; the master
restarted while it runs, then the subagent stopped: the master's persistent
SNMPv3 user and engine ID are still its own."""
import json, os, pathlib, re, signal, struct, sys  # noqa: E401
from qvagent import V3_AUTH, V3_PRIV, Agent, reference
from qvmodel import SECTIONS, expected_walk, records

SYS_DESCR, ENGINE_ID = ".1.3.6.1.2.1.1.1.0", ".1.3.6.1.6.3.10.2.1.1.0"


def value(kind, t, r, c, room):
    n = 0x01020304 + 0x00010203 * (c - 1) + (0x00100000 * t if c > 1 else 0)
    return {"integer": -n if r else n, "counter32": 0xFFFFFFFF - c if r else n,
            "ipaddress": "192.168.1.10" if r == 0 else "10.0.255.1",
            "mac": f"{0xA0 * r:02x}:11:{0x22 + c:02x}:33:{0x44 + t:02x}:55",
            "string": "" if (r, c) == (1, 2) else ("abcdefghijklmnopqrstuvwxyz0123456789" * 5)[: room - 1]
            if (r, c) == (1, 1) else f"t{t}r{r}c{c}"}[kind]


def describe(agent):
    """Two rows a table for the agent (before it starts): a description in QV_SIM_CONFIG, the same
    rows as records in this processor's byte order in QV_RECORDS. Returns what the agent must answer."""
    arc = {t["table"]: t["arc"] for t in reference("tables")}
    desc = {SECTIONS[t]: [{"cursor": 40 + r, "first_index": [16909060, 3][r]} if arc[t] == 2 else
                          {"cursor": [0, 0x01020304][r] + arc[t]} for r in range(2)] for t in SECTIONS}
    for col in reference("columns"):
        for r, row in enumerate(desc[SECTIONS[col["table"]]]):
            row[col["object"]] = value(col["value"], col["arc"], r, col["column"], col["room"])
    rows = {}
    for table, _, cursor, rec in records(desc, sys.byteorder):
        rows.setdefault(table["arc"], []).append(struct.pack("=I", cursor) + rec)
    agent.env.update(QV_SIM_CONFIG=os.path.join(agent.dir, "ap.json"), QV_RECORDS=os.path.join(agent.dir, "ap.rec"))
    pathlib.Path(agent.env["QV_SIM_CONFIG"]).write_text(json.dumps(desc))
    pathlib.Path(agent.env["QV_RECORDS"]).write_bytes(b"".join(struct.pack("=I", len(r)) + b"".join(r) for _, r in sorted(rows.items())))
    return expected_walk(agent.env["QV_SIM_CONFIG"])


def compare(what, got, want):
    bad = [f"{oid}: got {got.get(oid)}, want {w}" for oid, w in sorted(want.items()) if got.get(oid) != w]
    bad += [f"{oid}: unexpected {got[oid]}" for oid in sorted(set(got) - set(want))]
    print(f"{what}: {len(got)} values, {len(bad)} wrong", *bad[:40], sep="\n  ")
    return not bad


def main():
    want = describe(agent := Agent())
    oids = sorted(want)
    with agent:
        ok = compare("GETNEXT", agent.walk(bulk=False), want) & compare("GETBULK", agent.walk(), want)
        ok &= compare("GET", {k: v for i in range(0, len(oids), 20) for k, v in agent.get(*oids[i:i + 20]).items()}, want)
    return 0 if ok else 1


def subagent(master):
    sub = Agent(subagent_of=master)  # configuration: agentXSocket and the two dlmod lines, then the shipped settings
    sub.config += [re.sub(r"(persistentDir) \S+", rf"\1 {sub.dir}/own", line) for line in open(os.environ["QV_SUBAGENT_CONF_IN"]).read().splitlines()
                   if line.startswith(("agentXPingInterval", "[snmp]"))]
    os.symlink(f"{master.dir}/persist", f"{sub.dir}/persist")
    return sub


def agentx():
    master = Agent(module=False, load=None, master=True)
    os.mkdir(f"{master.dir}/persist")  # read as snmpd without -C reads it: its users, engine ID and boots
    master.config += ["rouser qvkeep priv", f"includeFile {master.dir}/persist/snmpd.conf"]
    # A user as docs/install.md creates one.
    pathlib.Path(f"{master.dir}/persist/snmpd.conf").write_text(f"createUser qvkeep SHA {V3_AUTH} AES {V3_PRIV}\n")
    with master:
        engine = master.get(ENGINE_ID)
        sub = subagent(master)
        want = describe(sub)
        with sub:
            ok = compare("v2c through the master", master.walk(), want)
            ok &= compare("v3 through the master", master.walk(version="3"), want)
            os.kill(sub.proc.pid, signal.SIGKILL)  # leaving the block reaps it
        alone = {**master.get(SYS_DESCR), **master.walk()}
        print("subagent killed; the master answers:", alone)
        ok &= isinstance(alone.get(SYS_DESCR, ("", ""))[1], bytes) and not set(alone) & set(want)
        again = subagent(master)
        describe(again)
        with again:
            ok &= compare("v2c through a new subagent", master.walk(), want)
            master.stop()  # a restart of both, the subagent stopping last
            again.stop()
        master.start()
        kept = master.snmp("snmpget", "-u", "qvkeep", "-On", "-Ox", ENGINE_ID, version="3", check=False)
        print("after the restarts, the master's user reads its engine ID:", kept.stdout, kept.stderr)
        ok &= master._parse(kept.stdout) == engine != {}
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(agentx() if sys.argv[1:] == ["agentx"] else main())
