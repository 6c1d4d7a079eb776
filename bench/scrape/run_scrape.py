#!/usr/bin/python3
# SPDX-License-Identifier: BSD-3-Clause
"""What one exporter scrape costs the agent as the client count grows.

Debian's snmp_exporter (or --exporter) with monitoring/snmp.yml scrapes a
simulated access point (clients=N,vifs=4,radios=2) through each module
(the full qv_wlan, the small-table qv_wlan_small and the lean
qv_wlan_clients), from snmpd directly and through a master snmpd with the
module in an AgentX subagent. For each it records the median of --runs
scrapes: the exporter's own duration, packets sent and variable bindings
returned, and the CPU time (utime+stime from /proc) of the snmpd(s).
Results go to OUT/scrape.csv and, as a table, to standard output; a
least-squares fit of CPU against clients per module and path ends it.

  run_scrape.py --module build/qv_if_iterate.so --sim build/sim/qv_wlan_sim.so
                [--clients 16,64,128,256,512,1024] [--runs 3] [--out DIR]
"""

import argparse, csv, os, re, statistics, subprocess, sys, time, urllib.request  # noqa: E401

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
from qvagent import Agent, serve  # noqa: E402

MODULES = ("qv_wlan", "qv_wlan_small", "qv_wlan_clients")
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pids):
    """utime + stime of the processes, in seconds."""
    total = 0
    for pid in pids:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        total += int(fields[11]) + int(fields[12])  # fields 14 and 15 of proc(5)
    return total / TICK


def scrape(port, module, target, pids):
    """One scrape: (exporter's duration, packets sent, varbinds returned, agent CPU)."""
    before = cpu_seconds(pids)
    url = f"http://127.0.0.1:{port}/snmp?module={module}&target={target}"
    body = urllib.request.urlopen(url, timeout=600).read().decode()
    cpu = cpu_seconds(pids) - before
    value = {m.group(1): float(m.group(2)) for m in re.finditer(
        r"^(snmp_scrape_duration_seconds|snmp_scrape_packets_sent|snmp_scrape_pdus_returned)(?:\{[^}]*\})? (\S+)$", body, re.M)}
    if len(value) != 3:
        raise RuntimeError(f"scrape of {module} gave no scrape metrics:\n{body[:1000]}")
    return (value["snmp_scrape_duration_seconds"], value["snmp_scrape_packets_sent"],
            value["snmp_scrape_pdus_returned"], cpu)


def measure(port, clients, path, runs, rows):
    generate = f"clients={clients},vifs=4,radios=2"
    if path == "direct":
        agents = [Agent(sim_generate=generate)]
    else:  # the master knows nothing of the tables; the subagent serves them
        master = Agent(module=False, load=None, master=True)
        agents = [master, Agent(subagent_of=master, sim_generate=generate)]
    for a in agents:
        a.start()
    try:
        pids = [a.proc.pid for a in agents]
        for module in MODULES:
            scrape(port, module, f"127.0.0.1:{agents[0].port}", pids)  # warm-up: first-walk costs out
            got = [scrape(port, module, f"127.0.0.1:{agents[0].port}", pids) for _ in range(runs)]
            row = dict(clients=clients, path=path, module=module,
                       **{k: statistics.median(v) for k, v in zip(("duration_s", "packets", "varbinds", "cpu_s"), zip(*got))})
            rows.append(row)
            print(f"{clients:5d} {path:7s} {module:16s} {row['duration_s']:8.3f} s {row['cpu_s']:7.2f} s "
                  f"{row['packets']:6.0f} packets {row['varbinds']:7.0f} varbinds", flush=True)
    finally:
        for a in reversed(agents):
            a.stop()


def fit(rows):
    """cpu ≈ a + b·n + c·n² per module and path (least squares)."""
    import numpy  # python3-numpy, with the walk benchmark's matplotlib (scripts/deps/bench.list)
    out = []
    for path in ("direct", "agentx"):
        for module in MODULES:
            pts = [(r["clients"], r["cpu_s"]) for r in rows if r["path"] == path and r["module"] == module]
            if len(pts) < 3:
                continue
            c2, c1, c0 = numpy.polyfit(*zip(*pts), 2)
            out.append((path, module, c0, c1, c2))
            print(f"fit {path:7s} {module:16s} cpu ≈ {c0:.3g} + {c1:.3g}·n + {c2:.3g}·n² s")
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--module", required=True, help="qv_if_iterate.so")
    ap.add_argument("--sim", required=True, help="qv_wlan_sim.so")
    ap.add_argument("--snmpd", default="/usr/sbin/snmpd")
    ap.add_argument("--exporter", default="prometheus-snmp-exporter", help="a 0.21-format snmp_exporter")
    ap.add_argument("--clients", default="16,64,128,256,512,1024")
    ap.add_argument("--paths", default="direct,agentx")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--out", default="bench-scrape")
    args = ap.parse_args()
    os.environ.update(QV_MODULE=os.path.abspath(args.module), QV_SIM=os.path.abspath(args.sim), QV_SNMPD=args.snmpd)
    os.makedirs(args.out, exist_ok=True)
    exporter, port = serve([args.exporter, f"--config.file={os.path.join(ROOT, 'monitoring', 'snmp.yml')}",
                            "--web.listen-address=127.0.0.1:@PORT@"], os.path.join(args.out, "exporter.log"))
    rows = []
    try:
        print(subprocess.run([args.exporter, "--version"], capture_output=True, text=True).stderr.splitlines()[0])
        for clients in (int(c) for c in args.clients.split(",")):
            for path in args.paths.split(","):
                measure(port, clients, path, args.runs, rows)
    finally:
        exporter.terminate()
        exporter.wait(30)
    with open(os.path.join(args.out, "scrape.csv"), "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=list(rows[0]))
        w.writeheader()
        w.writerows(rows)
    fit(rows)


if __name__ == "__main__":
    main()
