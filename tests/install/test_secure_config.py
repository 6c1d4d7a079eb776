#!/usr/bin/env python3
"""`cmake --install` lays out the module, the MIB and the example snmpd.conf
snippet; snmpd started with that snippet (the SNMPv3 user created as the docs
say) serves the tables to the authorised user only: no answer to SNMPv2c,
nothing for a wrong passphrase or a lower security level, and nothing
outside the view. The exporter's SNMPv3 module reads it with that user."""

import os
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "mib"))
import qvargs  # noqa: E402
from qvsnmp import SUBTREE, Agent, exporter_scrape, mib_env, run, sim_env, check, failures  # noqa: E402

USER = "qvmonitor"
AUTH = "install-test-auth-9f3"
PRIV = "install-test-priv-41c"


def v3(user=USER, level="authPriv", auth=AUTH, priv=PRIV):
    args = ["-v3", "-u", user, "-l", level, "-a", "SHA", "-A", auth]
    if level == "authPriv":
        args += ["-x", "AES", "-X", priv]
    return args


def main():
    a = qvargs.parse({"--build-dir": {"required": True}, "--dlmod-dir": {"required": True}})
    prefix = tempfile.mkdtemp(prefix="qv-install-")
    try:
        run(["cmake", "--install", a.build_dir, "--prefix", prefix, "--component", "module"], timeout=120)
        module = os.path.join(prefix, a.dlmod_dir, "qv_if_iterate.so")
        mib = os.path.join(prefix, "share", "snmp", "mibs", "QV-WLAN-MIB.txt")
        snippet = os.path.join(prefix, "share", "qv-wlan-snmp", "snmpd.conf.d", "qv-wlan.conf")
        for f in (module, mib, snippet):
            check(os.path.isfile(f), f"not installed: {os.path.relpath(f, prefix)}")
        if failures:
            raise SystemExit("\n".join(failures))
        conf = open(snippet).read()
        check(f"dlmod qv_if_iterate {module}\n" in conf, "the snippet does not load the installed module")
        active = [l.split()[0] for l in conf.splitlines() if l.strip() and not l.lstrip().startswith("#")]
        for word in ("rocommunity", "rwcommunity", "com2sec", "rocommunity6", "rwuser", "createUser"):
            check(word not in active, f"the snippet has an active {word} line")

        # The installer's step from the docs: create the user with their own
        # passphrases (here in a file of its own next to the snippet).
        users = f'createUser {USER} SHA "{AUTH}" AES "{PRIV}"\n'
        env = mib_env(a.base_mib_dir, os.path.dirname(mib))
        with Agent(conf + "\n" + users, preload=a.datasource, env=sim_env(a), ready_args=v3()) as agent:
            t = ["-r", "0", "-t", "2", agent.target]
            # The authorised user reads the tables and the system group.
            tab = run(["snmptable", "-OX", "-Ci", "-Cf", "|", *v3(), *t, "QV-WLAN-MIB::qvAssociationTable"],
                      env=env, check=False)
            check(tab.returncode == 0 and "[3][0:11:22:33:44:55]|0:11:22:33:44:55|" in tab.stdout,
                  f"authorised snmptable:\n{tab.stdout}{tab.stderr}")
            walk = run(["snmpwalk", "-On", *v3(), *t, ".1"], env=env, check=False)
            oids = [l.split(" = ")[0] for l in walk.stdout.splitlines() if " = " in l]
            check(any(o.startswith(SUBTREE + ".5.1.") for o in oids), "full walk shows no radio attributes")
            check(any(o.startswith(".1.3.6.1.2.1.1.") for o in oids), "full walk shows no system group")
            outside = [o for o in oids if not (o.startswith(SUBTREE + ".") or o.startswith(".1.3.6.1.2.1.1."))]
            check(not outside, f"the view lets through {outside[:5]}")
            get = run(["snmpget", "-On", *v3(), *t, ".1.3.6.1.2.1.2.1.0"], env=env, check=False)
            check("No Such Object" in get.stdout, f"ifNumber outside the view: {get.stdout}{get.stderr}")

            # Everyone else gets nothing.
            def denied(args, what):
                p = run(["snmpget", "-On", *args, "-r", "0", "-t", "1", agent.target, f"{SUBTREE}.5.1.1.0", ".1.3.6.1.2.1.1.3.0"],
                        env=env, check=False)
                got = re.search(r"= (INTEGER|Timeticks):", p.stdout)
                check(got is None, f"{what} read a value: {p.stdout}")
                return p
            p = denied(["-v2c", "-c", "public"], "SNMPv2c community public")
            check("Timeout" in p.stderr, f"v2c: expected no answer, got {p.stdout}{p.stderr}")
            denied(["-v1", "-c", "public"], "SNMPv1 community public")
            p = denied(v3(auth="wrong-passphrase-1"), "wrong auth passphrase")
            check("Authentication failure" in p.stderr or "Timeout" in p.stderr,
                  f"wrong passphrase: {p.stdout}{p.stderr}")
            denied(v3(priv="wrong-privacy-pass"), "wrong privacy passphrase")
            denied(v3(level="authNoPriv"), "authNoPriv")
            denied(v3(user="nobody", level="authPriv"), "unknown user")

            # The exporter's SNMPv3 module fits this configuration once its
            # placeholders carry the user's passphrases.
            with open(os.path.join(a.monitoring_dir, "snmp.yml")) as f:
                cfg = f.read()
            cfg = cfg.replace("${QV_SNMP_V3_AUTH_PASS}", AUTH).replace("${QV_SNMP_V3_PRIV_PASS}", PRIV)
            cfg_path = os.path.join(agent.dir, "snmp.yml")
            with open(cfg_path, "w") as f:
                f.write(cfg)
            body = exporter_scrape(cfg_path, "qv_wlan_v3", agent.port, agent.dir)
            noise = re.findall(r'^qvRadioNoiseFloor\{qvRadioAttributeIndex="(\d+)"\} (\S+)$', body, re.M)
            check(sorted(noise) == [("0", "-95"), ("1", "-89")], f"qv_wlan_v3 scrape: qvRadioNoiseFloor {noise}")
            check(re.search(r'^qvClientRSSI\{.*qvClientMac="00:11:22:33:44:55".*\} -52$', body, re.M) is not None,
                  "qv_wlan_v3 scrape: no qvClientRSSI of the example client")
            check(re.search(r"^sysUpTime \d", body, re.M) is not None, "qv_wlan_v3 scrape: no sysUpTime")
    finally:
        shutil.rmtree(prefix, ignore_errors=True)

    if failures:
        print("\n".join(failures))
        return 1
    print("installed snippet: authorised reads, everything else refused")
    return 0


if __name__ == "__main__":
    sys.exit(main())
