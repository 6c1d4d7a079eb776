#!/usr/bin/python3
# SPDX-License-Identifier: BSD-3-Clause
"""Walk-cost benchmark: the module against a floor module and pass_persist
scripts, each in its own snmpd on 127.0.0.1.

    bench/run_bench.py [--build-dir build] [--out DIR]        full run (< 10 min)
    bench/run_bench.py --short --out DIR                      16 and 64 clients (CTest)
    bench/run_bench.py --callgrind --out DIR                  instruction split at 64 clients

For every size it starts one snmpd per server with a generated access point of
that many clients, then runs GETNEXT and GETBULK walks of the association table
and of the whole subtree, interleaved across servers, and writes walks.csv, a
log-log plot (walk.png) and the raw per-walk JSON lines (walks.jsonl).

Besides timings it checks what must hold whatever the machine: every walk
completes, every server answers byte-identical walks, the module asks the data
source exactly as often as the iterator asks the floor for rows, releases every
block and never holds more than 2 blocks beyond the rows that requests keep.
A failed check makes the exit status 1; timings never do.
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SUBTREE = "1.3.6.1.4.1.32473.1.1.1.2.1"
ASSOC = SUBTREE + ".2"
WALKS = [("assoc", ASSOC), ("subtree", SUBTREE)]
MODES = ["getnext", "getbulk"]
VIFS, RADIOS = 4, 2
MAX_REPETITIONS = 25
ALL_SERVERS = ["module", "floor", "pass-cached", "pass"]
PASS_CACHE_S = 30
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
from qvagent import reference  # noqa: E402  the one reader of the column reference
ASSOC_COLUMNS = sum(c["table"] == "qvAssociationTable" for c in reference("columns"))


def log(msg):
    print(msg, flush=True)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """One snmpd with one way of serving the tables."""

    def __init__(self, kind, clients, args, workdir, valgrind=None):
        self.kind, self.clients, self.args = kind, clients, args
        self.dir = os.path.join(workdir, "%s-%d" % (kind, clients))
        os.makedirs(self.dir, exist_ok=True)
        self.port = free_port()
        self.pids = None
        src_name = os.path.splitext(os.path.basename(args.source))[0]
        lines = [
            "dontLogTCPWrappersConnects yes",
            "agentaddress udp:127.0.0.1:%d" % self.port,
            "rocommunity public 127.0.0.1",
        ]
        if kind in ("module", "floor"):
            lines += ["dlmod %s %s" % (src_name, args.source), "dlmod qv_bench_probe %s" % args.probe]
            lines.append("dlmod qv_if_iterate %s" % args.module if kind == "module"
                         else "dlmod qv_bench_floor %s" % args.floor)
        else:
            cmd = "%s %s --source %s" % (args.python, os.path.join(HERE, "pass_persist", "qv_assoc_pass.py"),
                                          args.source)
            if kind == "pass-cached":
                cmd += " --cache %d" % PASS_CACHE_S
            lines.append("pass_persist .%s %s" % (ASSOC, cmd))
        conf = os.path.join(self.dir, "snmpd.conf")
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        env = dict(os.environ)
        env.pop("QV_SIM_CONFIG", None)
        env.update(SNMP_PERSISTENT_DIR=self.dir, MIBS="",
                   QV_SIM_GENERATE="clients=%d,vifs=%d,radios=%d,still=1" % (clients, VIFS, RADIOS))
        argv = [args.snmpd, "-f", "-C", "-c", conf, "-Lf", os.path.join(self.dir, "snmpd.log"), "-I", "-smux"]
        if valgrind:
            argv = valgrind + argv
        self.proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=open(os.path.join(self.dir, "stderr.log"), "w"))
        ready = subprocess.run([args.walker, "-g", "-p", str(self.port), "-o", "1.3.6.1.2.1.1.3.0",
                                "-t", "120" if valgrind else "20"], capture_output=True, text=True)
        if ready.returncode != 0 or self.proc.poll() is not None:
            self.stop()
            raise RuntimeError("%s snmpd did not start; see %s" % (kind, self.dir))

    def cpu_pids(self):
        """snmpd, plus the pass_persist script once snmpd has started it."""
        if self.pids is None or (self.kind.startswith("pass") and "," not in self.pids):
            pids = [str(self.proc.pid)]
            try:
                with open("/proc/%d/task/%d/children" % (self.proc.pid, self.proc.pid)) as f:
                    pids += f.read().split()
            except OSError:
                pass
            self.pids = ",".join(pids)
        return self.pids

    def walk(self, oid, mode, probe=True, timeout=600, limit=0):
        argv = [self.args.walker, "-p", str(self.port), "-o", oid, "-m", "next" if mode == "getnext" else "bulk",
                "-r", str(MAX_REPETITIONS), "-P", self.cpu_pids(), "-t", str(timeout)]
        if probe and self.kind in ("module", "floor"):
            argv.append("-s")
        if limit:
            argv += ["-n", str(limit)]
        r = subprocess.run(argv, capture_output=True, text=True)
        try:
            res = json.loads(r.stdout.strip().splitlines()[-1])
        except (ValueError, IndexError):
            res = {"ok": False, "error": r.stderr.strip()}
        res["probe"] = dict(kv.split("=") for kv in res.get("probe", "").split() if "=" in kv)
        return res

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=120)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)


def plan(args):
    """Sizes, and which servers run at each size with how many repetitions."""
    if args.short:
        return [16, 64], {16: 2, 64: 2}, 4.0
    sizes = [int(s) for s in args.sizes.split(",")]
    return sizes, {16: 9, 64: 7, 256: 5, 1024: 3}, args.cell_budget


def servers_for(size, args):
    chosen = [s for s in args.servers.split(",") if s in ALL_SERVERS]
    # The uncached script rebuilds every instance for each request of a walk:
    # beyond 64 clients one walk takes minutes.
    return [s for s in chosen if not (s == "pass" and size > args.pass_max_clients)]


def cells_for(server):
    walks = WALKS if server in ("module", "floor") else WALKS[:1]
    return [(w, oid, m) for (w, oid) in walks for m in MODES]


def run_benchmark(args):
    sizes, max_reps, cell_budget = plan(args)
    os.makedirs(args.out, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="qv-bench-")
    raw = open(os.path.join(args.out, "walks.jsonl"), "w")
    results = {}  # (size, server, walk, mode) -> list of walk results
    started = time.monotonic()
    try:
        for size in sizes:
            kinds = servers_for(size, args)
            log("== %d clients: %s" % (size, ", ".join(kinds)))
            servers = {k: Server(k, size, args, workdir) for k in kinds}
            try:
                # Warm-up: one request per server starts pass_persist scripts
                # and fills the cached script's list before anything is timed.
                for srv in servers.values():
                    srv.walk(ASSOC + ".1.1", "getnext", probe=False, limit=1)
                # Round 0 runs every cell once; its times bound the repetitions.
                reps = {}
                rounds = 1
                r = 0
                while r < rounds:
                    order = kinds[r % len(kinds):] + kinds[:r % len(kinds)]  # rotate who goes first
                    for (w, oid) in WALKS:
                        for m in MODES:
                            for k in order:
                                if (w, oid, m) not in cells_for(k) or reps.get((k, w, m), 1) <= r:
                                    continue
                                res = servers[k].walk(oid, m)
                                if r == 0:
                                    t = res.get("wall_s", 1.0) if res.get("ok") else 1e9
                                    reps[(k, w, m)] = max(1, min(max_reps.get(size, 3), int(cell_budget / max(t, 1e-3))))
                                res.update(clients=size, server=k, walk=w, mode=m, round=r)
                                raw.write(json.dumps(res) + "\n")
                                results.setdefault((size, k, w, m), []).append(res)
                    if r == 0:
                        rounds = max(reps.values())
                    log("   round %d/%d done, %.0f s elapsed" % (r + 1, rounds, time.monotonic() - started))
                    r += 1
            finally:
                for srv in servers.values():
                    srv.stop()
    finally:
        raw.close()
        if not args.keep:
            shutil.rmtree(workdir, ignore_errors=True)
        else:
            log("server directories kept in %s" % workdir)
    return results, time.monotonic() - started


def summarise(results):
    rows = []
    for (size, k, w, m), runs in sorted(results.items(), key=lambda kv: (kv[0][0], ALL_SERVERS.index(kv[0][1]),
                                                                         kv[0][2], kv[0][3])):
        walls = [r["wall_s"] for r in runs if r.get("ok")]
        ticks = [r["cpu_ticks"] for r in runs if r.get("ok") and r.get("cpu_ticks", -1) >= 0]
        hz = runs[0].get("ticks_per_s", 100) or 100
        p = runs[-1]["probe"]

        def num(key):
            return int(p[key]) if key in p else ""

        rows.append({
            "clients": size, "server": k, "walk": w, "mode": m, "reps": len(runs),
            "ok": all(r.get("ok") for r in runs),
            "wall_median_ms": round(statistics.median(walls) * 1e3, 2) if walls else "",
            "wall_min_ms": round(min(walls) * 1e3, 2) if walls else "",
            "wall_max_ms": round(max(walls) * 1e3, 2) if walls else "",
            "cpu_ms_per_walk": round(sum(ticks) / len(ticks) * 1e3 / hz, 1) if ticks else "",
            "varbinds": runs[-1].get("varbinds", ""), "pdus": runs[-1].get("pdus", ""),
            "ds_calls": num("ds_first") + num("ds_next") if "ds_first" in p else "",
            "ds_first": num("ds_first"), "ds_next": num("ds_next"),
            "iterator_calls": num("it_first") + num("it_next") if "it_first" in p else "",
            "ds_peak_live_blocks": num("ds_peak"), "ds_live_after": num("ds_live"),
            "ds_release_errors": num("ds_release_errors"), "rows_kept_peak": num("kept_peak"),
            "hashes": sorted({r.get("hash", "") for r in runs}),
        })
    return rows


def check(rows):
    """What must hold on any machine. Returns a list of failures."""
    fails = []
    by = {(r["clients"], r["server"], r["walk"], r["mode"]): r for r in rows}
    for r in rows:
        tag = "%(server)s %(clients)d %(walk)s %(mode)s" % r
        if not r["ok"]:
            fails.append("%s: a walk failed" % tag)
        if len(r["hashes"]) != 1:
            fails.append("%s: answers differ between repetitions" % tag)
        if r["walk"] == "assoc" and r["varbinds"] != ASSOC_COLUMNS * r["clients"]:
            fails.append("%s: %s varbinds, expected %d" % (tag, r["varbinds"], ASSOC_COLUMNS * r["clients"]))
        ref = by.get((r["clients"], "floor", r["walk"], r["mode"]))
        if ref and r["hashes"] != ref["hashes"]:
            fails.append("%s: answers differ from the floor's" % tag)
        if r["server"] == "module" and ref:
            if r["ds_calls"] != ref["iterator_calls"]:
                fails.append("%s: %s data-source calls, the iterator asked for %s rows"
                             % (tag, r["ds_calls"], ref["iterator_calls"]))
            if r["ds_live_after"] != 0 or r["ds_release_errors"] != 0:
                fails.append("%s: %s blocks live after the walk, %s release errors"
                             % (tag, r["ds_live_after"], r["ds_release_errors"]))
            if r["ds_peak_live_blocks"] == "" or r["ds_peak_live_blocks"] > 2 + ref["rows_kept_peak"]:
                fails.append("%s: peak %s live blocks, more than 2 + %s rows kept"
                             % (tag, r["ds_peak_live_blocks"], ref["rows_kept_peak"]))
        if r["server"] == "floor" and r["ds_calls"] not in ("", 0):
            fails.append("%s: the floor called the data source" % tag)
    return fails


CSV_FIELDS = ["clients", "server", "walk", "mode", "reps", "wall_median_ms", "wall_min_ms", "wall_max_ms",
              "cpu_ms_per_walk", "varbinds", "pdus", "ds_calls", "iterator_calls", "ds_peak_live_blocks",
              "rows_kept_peak", "ds_live_after", "ds_release_errors"]


def write_csv(rows, path):
    with open(path, "w") as f:
        f.write(",".join(CSV_FIELDS) + "\n")
        for r in rows:
            f.write(",".join(str(r[k]) for k in CSV_FIELDS) + "\n")


def plot(rows, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        log("matplotlib missing (Debian: python3-matplotlib): no plot")
        return False
    fig, axes = plt.subplots(2, 2, figsize=(11, 8.5), sharex=True)
    style = {"module": ("C0", "o", "-"), "floor": ("C2", "s", "--"), "pass-cached": ("C1", "^", "-."),
             "pass": ("C3", "v", ":")}
    label = {"module": "module (qv_if_iterate)", "floor": "floor (static rows)",
             "pass-cached": "pass_persist, %d s cache" % PASS_CACHE_S, "pass": "pass_persist, no cache"}
    for i, (w, _) in enumerate(WALKS):
        for j, m in enumerate(MODES):
            ax = axes[i][j]
            for k in ALL_SERVERS:
                pts = sorted((r["clients"], r["wall_median_ms"]) for r in rows
                             if r["server"] == k and r["walk"] == w and r["mode"] == m and r["wall_median_ms"] != "")
                if pts:
                    c, mk, ls = style[k]
                    ax.plot([p[0] for p in pts], [p[1] / 1e3 for p in pts], color=c, marker=mk, linestyle=ls,
                            label=label[k])
            ax.set_xscale("log", base=2)
            ax.set_yscale("log")
            ax.set_title("%s, %s%s" % ("association table" if w == "assoc" else "whole subtree",
                                       m.upper(), " (max-repetitions %d)" % MAX_REPETITIONS if m == "getbulk" else ""))
            ax.grid(True, which="both", alpha=0.3)
            if i == 1:
                ax.set_xlabel("associated clients")
            if j == 0:
                ax.set_ylabel("walk time, median (s)")
            ax.legend(fontsize=8)
    fig.suptitle("Full walk time against clients (snmpd on 127.0.0.1, log-log)")
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    return True


# ---------------------------------------------------------------- callgrind

ALLOC_FUNCS = {"malloc", "free", "calloc", "realloc", "cfree", "_int_malloc", "_int_free", "malloc_consolidate",
               "__libc_malloc", "__libc_free", "__libc_calloc", "tcache_init"}


def parse_callgrind(path):
    """Self cost per function and inclusive cost per call arc (Ir)."""
    names = {"ob": {}, "fn": {}}
    fn_ob = {}
    self_cost, arcs = {}, {}
    cur_ob = cur_fn = None
    callee = callee_ob = None
    pending_call = False

    def name(kind, text):
        m = re.match(r"\((\d+)\)(?: (.*))?$", text.strip())
        if not m:
            return text.strip()
        if m.group(2) is not None:
            names[kind][m.group(1)] = m.group(2)
        return names[kind].get(m.group(1), m.group(1))

    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line[0] == "#":
                continue
            if line.startswith("ob="):
                cur_ob = name("ob", line[3:])
            elif line.startswith("cob="):
                callee_ob = name("ob", line[4:])
            elif line.startswith("fn="):
                cur_fn = name("fn", line[3:])
                fn_ob.setdefault(cur_fn, cur_ob)
                callee_ob = None
            elif line.startswith("cfn="):
                callee = name("fn", line[4:])
            elif line.startswith("calls="):
                pending_call = True
            elif line[0].isdigit() or line[0] in "+-*":
                parts = line.split()
                cost = int(parts[1]) if len(parts) > 1 else 0
                if pending_call:
                    key = (cur_fn, callee)
                    arcs[key] = arcs.get(key, 0) + cost
                    if callee_ob:
                        fn_ob.setdefault(callee, callee_ob)
                    pending_call = False
                    callee_ob = None
                else:
                    self_cost[cur_fn] = self_cost.get(cur_fn, 0) + cost
            elif "=" in line and line.split("=")[0] in ("fl", "fi", "fe", "cfi", "cfl"):
                pass
    return self_cost, arcs, fn_ob


def split_instructions(path, own_object, source_object):
    self_cost, arcs, fn_ob = parse_callgrind(path)
    total = sum(self_cost.values())

    def base(fn):
        return fn.split("'")[0]

    def is_own(fn):
        return (fn_ob.get(fn) or "").endswith(own_object)

    def is_source(fn):
        return bool(source_object) and (fn_ob.get(fn) or "").endswith(source_object)

    own = [fn for fn in self_cost if is_own(fn)]
    own_self = sum(self_cost[fn] for fn in own)
    alloc = source = lib = 0
    for (caller, callee), cost in arcs.items():
        if is_own(caller) and not is_own(callee):
            if base(callee) in ALLOC_FUNCS:
                alloc += cost
            elif is_source(callee):
                source += cost
            else:
                lib += cost
        elif is_source(caller) and not is_source(callee) and base(callee) in ALLOC_FUNCS:
            # the release function frees blocks: count that as allocation
            alloc += cost
            source -= cost
    iterator_incl = sum(c for (caller, callee), c in arcs.items()
                        if base(callee) == "netsnmp_table_iterator_helper_handler"
                        and base(caller) != "netsnmp_table_iterator_helper_handler")
    iterator = iterator_incl - own_self - alloc - source - lib
    rest = total - own_self - lib - alloc - source - iterator
    return {"total": total, "own_self": own_self, "own_library_calls": lib, "allocation": alloc,
            "data_source": source, "iterator": iterator, "rest": rest,
            "top_own": sorted(((self_cost[fn], fn) for fn in own), reverse=True)[:8]}


def run_callgrind(args):
    os.makedirs(args.out, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="qv-bench-cg-")
    clients = args.callgrind_clients
    report = {}
    try:
        for kind, obj in (("module", os.path.basename(args.module)), ("floor", os.path.basename(args.floor))):
            for (w, oid) in WALKS:
                for m in MODES:
                    if m == "getnext" and not args.callgrind_getnext:
                        continue
                    out = os.path.join(args.out, "callgrind.%s.%s.%s.out" % (kind, w, m))
                    # Count only while snmpd reads and answers packets: no start-up, no idle loop.
                    vg = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
                          "--toggle-collect=snmp_read2", "--quiet"]
                    log("callgrind: %s, %d clients, %s %s" % (kind, clients, w, m))
                    srv = Server(kind, clients, args, workdir, valgrind=vg)
                    try:
                        res = srv.walk(oid, m, probe=False, timeout=600)
                    finally:
                        srv.stop()
                    if not res.get("ok"):
                        raise RuntimeError("callgrind walk failed: %s" % res)
                    with open(out + ".annotate.txt", "w") as f:
                        subprocess.run(["callgrind_annotate", "--inclusive=yes", out], stdout=f,
                                       stderr=subprocess.DEVNULL)
                    report[(kind, w, m)] = split_instructions(out, obj, os.path.basename(args.source))
                    report[(kind, w, m)]["varbinds"] = res["varbinds"]
                    report[(kind, w, m)]["pdus"] = res["pdus"]
    finally:
        if not args.keep:
            shutil.rmtree(workdir, ignore_errors=True)
    lines = ["walk,mode,server,varbinds,pdus,total_Ir,own_self_Ir,own_library_calls_Ir,allocation_Ir,"
             "data_source_Ir,iterator_Ir,rest_Ir"]
    for (kind, w, m), s in sorted(report.items()):
        lines.append(",".join(str(x) for x in (w, m, kind, s["varbinds"], s["pdus"], s["total"], s["own_self"],
                                                s["own_library_calls"], s["allocation"], s["data_source"],
                                                s["iterator"], s["rest"])))
    with open(os.path.join(args.out, "callgrind.csv"), "w") as f:
        f.write("\n".join(lines) + "\n")
    for (kind, w, m), s in sorted(report.items()):
        if kind != "module" or ("floor", w, m) not in report:
            continue
        fl = report[("floor", w, m)]
        t = s["total"]
        log("%s %s, %d clients: module %d Ir, floor %d Ir, ratio %.3f" % (w, m, clients, t, fl["total"],
                                                                         t / fl["total"]))
        log("   %-18s %12s  %6s   %12s  %6s" % ("", "module", "", "floor", ""))
        for key in ("own_self", "own_library_calls", "allocation", "data_source", "iterator", "rest"):
            log("   %-18s %12d  %5.1f%%   %12d  %5.1f%%" % (key, s[key], 100.0 * s[key] / t, fl[key],
                                                          100.0 * fl[key] / fl["total"]))
        log("   our hottest functions: " + ", ".join("%s %d" % (fn, c) for c, fn in s["top_own"][:5]))
    return report


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(ROOT, "build"))
    ap.add_argument("--module")
    ap.add_argument("--floor")
    ap.add_argument("--probe")
    ap.add_argument("--source", help="data-source library (default: the bench's copy-based stand-in; "
                                     "the simulator's is build/sim/qv_wlan_sim.so)")
    ap.add_argument("--walker")
    ap.add_argument("--snmpd", default=shutil.which("snmpd") or "/usr/sbin/snmpd")
    ap.add_argument("--python", default="/usr/bin/python3")
    ap.add_argument("--out", default=os.path.join(ROOT, "build", "bench-results"))
    ap.add_argument("--short", action="store_true", help="16 and 64 clients, 2 repetitions (CTest)")
    ap.add_argument("--sizes", default="16,64,256,1024")
    ap.add_argument("--servers", default=",".join(ALL_SERVERS))
    ap.add_argument("--pass-max-clients", type=int, default=64)
    ap.add_argument("--cell-budget", type=float, default=12.0,
                    help="seconds of walking per server, walk and size; bounds repetitions")
    ap.add_argument("--callgrind", action="store_true", help="instruction split instead of timings")
    ap.add_argument("--callgrind-clients", type=int, default=64)
    ap.add_argument("--callgrind-getnext", action="store_true", help="also GETNEXT walks under callgrind")
    ap.add_argument("--keep", action="store_true", help="keep snmpd configurations and logs")
    args = ap.parse_args()

    b = args.build_dir
    args.module = args.module or os.path.join(b, "src", "qv_if_iterate.so")
    args.floor = args.floor or os.path.join(b, "bench", "qv_bench_floor.so")
    args.probe = args.probe or os.path.join(b, "bench", "qv_bench_probe.so")
    args.walker = args.walker or os.path.join(b, "bench", "qv_bench_walk")
    if not args.source:
        # A device library copies stored records; the simulator copies too
        # but also checks every release (about 2.5 times the instructions of
        # the copy), which would blur the module's own cost in the comparison.
        args.source = os.path.join(b, "bench", "qv_bench_source.so")
    for attr in ("module", "floor", "probe", "walker", "source", "snmpd", "out"):
        setattr(args, attr, os.path.abspath(getattr(args, attr)))  # dlmod wants absolute paths
    for p in (args.module, args.floor, args.probe, args.walker, args.source, args.snmpd):
        if not os.path.exists(p):
            sys.exit("missing %s: build first (cmake --build %s)" % (p, b))
    log("data source: %s" % args.source)

    if args.callgrind:
        run_callgrind(args)
        return 0
    results, elapsed = run_benchmark(args)
    rows = summarise(results)
    write_csv(rows, os.path.join(args.out, "walks.csv"))
    plot(rows, os.path.join(args.out, "walk.png"))
    for r in rows:
        log("%(clients)5d %(server)-12s %(walk)-8s %(mode)-8s reps %(reps)d  median %(wall_median)10s ms  "
            "cpu %(cpu_ms_per_walk)8s ms  ds calls %(ds_calls)9s  iterator %(iterator_calls)9s  peak %(ds_peak_live_blocks)s"
            % dict(r, wall_median=r["wall_median_ms"]))
    fails = check(rows)
    log("benchmark took %.0f s; results in %s" % (elapsed, args.out))
    for f in fails:
        log("FAIL: " + f)
    n = len(rows)
    log("%d passed, %d failed" % (n - len({f.split(':')[0] for f in fails}), len({f.split(':')[0] for f in fails})))
    return 1 if fails else 0


if __name__ == "__main__":
    sys.exit(main())
