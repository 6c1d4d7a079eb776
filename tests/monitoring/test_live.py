#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
# Debian's snmp_exporter and Prometheus in front of real agents. Both exporter
# formats (the current one turned back into modules the 0.21 exporter reads), v2c
# and v3 with passphrases from the environment, give the same samples, and these
# carry every served value; the small-table and client modules together are the
# full module's samples without a clash; then Prometheus with the rules scrapes
# the demo access point and every query of the dashboard returns labelled data.
# With --current EXPORTER instead, a current exporter (Debian 13's) reads
# snmp-current.yml as it is, expanding the passphrases itself, and gives the
# 0.21 exporter's samples for both split modules in one scrape, v2c and v3.

import json, os, pathlib, re, subprocess, sys, tempfile, time, yaml  # noqa: E401
from urllib.parse import quote
from qvagent import SUBTREE, V3_AUTH, V3_PRIV, Agent, http, reference, serve

HERE = os.path.dirname(os.path.abspath(__file__))
MON, SIM_CONFIG = os.path.join(HERE, "..", "..", "monitoring"), os.path.join(HERE, "test-ap.json")
failures, servers = [], []


def api(port, path):  # Prometheus's HTTP API: the data of the answer
    return json.loads(http(port, "/api/v1/" + path) or '{"data": {"result": []}}')["data"]


def samples(body):
    # {(name, sorted labels): value} of the table metrics.
    return {(m.group(1), tuple(sorted(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', m.group(2) or "")))): float(m.group(3))
            for m in re.finditer(r"^(qv\w+)(?:\{(.*)\})? (\S+)$", body, re.M)}


def start(cmd, log):  # a server on a free port, stopped when main ends: its port
    proc, port = serve(cmd, log)
    servers.append(proc)
    return port


def exporter_config(tmp):
    # The 0.21 file, the v3 copies generate.sh fills from the environment, and
    # the current file's module under each of its auths, as one 0.21 config.
    for fmt in ("0.21", "current"):
        subprocess.run([os.path.join(MON, "generate.sh"), "--secrets", f"{tmp}/{fmt}.yml", "--format", fmt], check=True)
    config = {**yaml.safe_load(open(f"{MON}/snmp.yml")), **yaml.safe_load(open(f"{tmp}/0.21.yml"))}
    current = yaml.safe_load(open(f"{tmp}/current.yml"))
    for name, auth in current["auths"].items():
        for module, walk in current["modules"].items():
            config[f"current_{module}_{name}"] = {**walk, "version": auth["version"],
                                                  "auth": {k: v for k, v in auth.items() if k != "version"}}
    pathlib.Path(f"{tmp}/exporter.yml").write_text(yaml.safe_dump(config))
    return config


def check_exporter(port, config, current_port=None):
    # The packaged snippet's user, with the test passphrases.
    with Agent(sim_config=SIM_CONFIG, config=[f"createUser qvmonitor SHA {V3_AUTH} AES {V3_PRIV}", "rouser qvmonitor priv"]) as agent:
        served, target = agent.walk(), f"target=127.0.0.1:{agent.port}"
        bodies = {m: http(port, f"/snmp?module={m}&{target}") or "" for m in config}
        bodies.update({f"{auth} qv_wlan_split": http(current_port, f"/snmp?module=qv_wlan_small,qv_wlan_clients&auth={auth}&{target}")
                       or "" for auth in ("qv_v2c", "qv_v3") if current_port})
    scraped = {m: samples(b) for m, b in bodies.items()}
    # The split modules: their union is the full module's samples for their metrics, none in both.
    small, clients = scraped["qv_wlan_small"], scraped["qv_wlan_clients"]
    names = {n for n, _ in {**small, **clients}}
    scraped["qv_wlan_split"] = {**small, **clients}
    failures.extend(["qv_wlan_small and qv_wlan_clients share samples"] if small.keys() & clients.keys() else [])
    # The client module reads only the columns it exports, as samples or labels (no user or host names).
    read = re.search(r"^snmp_scrape_pdus_returned (\S+)$", bodies["qv_wlan_clients"], re.M)
    rows = {tuple(v for k, v in labels if k.startswith("qvAssociation")) for _, labels in clients}
    columns = {n for n, _ in clients} | {l["labelname"] for m in config["qv_wlan_clients"]["metrics"] for l in m.get("lookups", [])}
    failures.extend([f"qv_wlan_clients reads {read and read.group(1)} values, not {len(columns)} columns of {len(rows)} clients"]
                    if not read or float(read.group(1)) != len(columns) * len(rows) else [])
    # ... and every client column the rules and the dashboard use.
    users = (f"{MON}/prometheus/qv-wlan.rules.yml", f"{MON}/grafana/qv-wlan-dashboard.json")
    used = re.findall(r"qvClient\w+", "".join(open(f).read() for f in users))
    failures.extend(f"qv_wlan_clients lacks {c}, which the rules or the dashboard use" for c in sorted(set(used) - columns))
    failures.extend(["qv_wlan_small and qv_wlan_clients differ from qv_wlan"] if scraped["qv_wlan_split"] != {
        k: v for k, v in scraped["qv_wlan"].items() if k[0] in names} else [])
    # Each module the same in both formats, under both auths, from either exporter.
    family = {m: re.sub(r"^current_|^qv_v\w+ |_v3$|_qv_v(2c|3)$", "", m) for m in scraped}
    failures.extend(f"{m} gives other samples than {family[m]}:\n{bodies[m][:2000]}" for m in bodies if scraped[m] != scraped[family[m]])
    metrics, seen = {m["name"]: m for m in config["qv_wlan"]["metrics"]}, set()
    for (name, labels), value in scraped["qv_wlan"].items():
        lab, oid = dict(labels), [metrics[name]["oid"]]
        for idx in metrics[name]["indexes"]:  # the instance's OID, back from the index labels
            v = lab[idx["labelname"]]
            oid += [v] if idx["type"] == "gauge" else [str(len(v) // 2 - 1), *map(str, bytes.fromhex(v[2:]))]
        seen.add(oid := "." + ".".join(oid))
        kind, want = served.get(oid, (None, None))
        if not (value == want if kind in ("INTEGER", "Counter32") else value == 1 and name in lab):
            failures.append(f"{name}{lab} = {value}: served {kind} {want} ({oid})")
    # User and host names are personal data: off unless the operator turns them on.
    private = tuple(f"{SUBTREE}.{c['arc']}.1.{c['column']}." for c in reference("columns")
                    if c["object"] in ("qvClientUsername", "qvClientHostname"))
    failures.extend(f"served {oid} has no sample" for oid in served if oid not in seen and not oid.startswith(private))
    failures.extend(f"private {oid} is exported" for oid in seen if oid.startswith(private))


def check_dashboard(tmp, exporter_port):
    with Agent() as agent:
        pathlib.Path(f"{tmp}/prometheus.yml").write_text(open(f"{HERE}/prometheus.yml").read().replace("@AGENT@", f"127.0.0.1:{agent.port}")
                                                         .replace("@RULES@", os.path.abspath(f"{MON}/prometheus/qv-wlan.rules.yml"))
                                                         .replace("@EXPORTER@", f"127.0.0.1:{exporter_port}"))
        port = start(["prometheus", f"--config.file={tmp}/prometheus.yml", f"--storage.tsdb.path={tmp}/tsdb",
                      "--enable-feature=extra-scrape-metrics", "--web.listen-address=127.0.0.1:@PORT@"], f"{tmp}/prometheus.log")
        dash = json.load(open(f"{MON}/grafana/qv-wlan-dashboard.json"))
        queries = [t["expr"] for p in dash["panels"] for t in p.get("targets", [])]
        deadline, chosen, missing = time.monotonic() + 90, {}, queries
        while missing and time.monotonic() < deadline:
            time.sleep(2)
            for var in dash["templating"]["list"][1:]:  # label_values(selector, label): pick its first value
                sel, label = re.fullmatch(r"label_values\((.*), (\w+)\)", var["definition"]).groups()
                sel = re.sub(r"\$(\w+)", lambda m: chosen.get(m.group(1), ".*"), sel)
                chosen[var["name"]] = (api(port, f"label/{label}/values?match[]={quote(sel)}") or ["no-value"])[0]
            # Labelled data: at least one series, each with a label besides its name.
            missing = [q for q in queries if not all(set(r["metric"]) - {"__name__"} for r in api(
                port, "query?query=" + quote(re.sub(r"\$(\w+)", lambda m: chosen[m.group(1)], q)))["result"] or [{"metric": {}}])]
        failures.extend(f"dashboard query returns no labelled data: {q} (variables {chosen})" for q in missing)


def main(argv):
    current = argv[2] if argv[1:2] == ["--current"] else None
    if current and not os.access(current, os.X_OK):
        sys.exit(f"{current}: no current exporter (scripts/install-deps.sh monitoring unpacks Debian 13's)")
    # For generate.sh --secrets, and the current exporter's only source of them.
    os.environ.update(QV_SNMP_V3_AUTH_PASS=V3_AUTH, QV_SNMP_V3_PRIV_PASS=V3_PRIV)
    with tempfile.TemporaryDirectory() as tmp:
        try:
            config = exporter_config(tmp)
            port = start(["prometheus-snmp-exporter", f"--config.file={tmp}/exporter.yml", "--web.listen-address=127.0.0.1:@PORT@"],
                         f"{tmp}/exporter.log")
            check_exporter(port, config, current and start([current, f"--config.file={MON}/snmp-current.yml",
                                                            "--config.expand-environment-variables",
                                                            "--web.listen-address=127.0.0.1:@PORT@"], f"{tmp}/current.log"))
            if not current:
                check_dashboard(tmp, port)
        finally:
            for server in servers:
                server.terminate()
                server.wait(30)
    print("\n".join(failures[:60]) or "exporter formats, served values and dashboard queries agree")
    return int(bool(failures))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
