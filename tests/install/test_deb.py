#!/usr/bin/env python3
"""CPack's Debian packages: the right files at Debian's paths, installed with
dpkg -i into a scratch root (its own dpkg database), snmpd started from the
installed snippet reads a table through the installed MIB, and dpkg -r
leaves no file behind."""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "mib"))
import qvargs  # noqa: E402
from qvsnmp import SUBTREE, Agent, mib_env, run, check, failures  # noqa: E402


def dpkg(root, *args):
    return run(["dpkg", f"--root={root}", f"--admindir={root}/var/lib/dpkg", "--log=/dev/null",
                "--force-not-root", "--force-depends", "--force-script-chrootless", *args], timeout=120)


def main():
    a = qvargs.parse({"--build-dir": {"required": True}, "--dlmod-dir": {"required": True}})
    work = tempfile.mkdtemp(prefix="qv-deb-")
    try:
        out = os.path.join(work, "pkg")
        run(["cpack", "--config", os.path.join(a.build_dir, "CPackConfig.cmake"), "-B", out], timeout=300)
        debs = {run(["dpkg-deb", "-f", d, "Package"]).stdout.strip(): d for d in glob.glob(f"{out}/*.deb")}
        check(set(debs) == {"qv-wlan-snmp", "qv-wlan-snmp-sim"}, f"packages built: {list(debs)}")
        if failures:
            raise SystemExit("\n".join(failures))
        module_path = f"/usr/{a.dlmod_dir}/qv_if_iterate.so"
        contents = run(["dpkg-deb", "-c", debs["qv-wlan-snmp"]]).stdout
        for path in (module_path, "/usr/share/snmp/mibs/QV-WLAN-MIB.txt",
                     "/usr/share/qv-wlan-snmp/snmpd.conf.d/qv-wlan.conf"):
            check(f".{path}\n" in contents, f"qv-wlan-snmp lacks {path}")
        check("./etc/" not in contents, "qv-wlan-snmp must not change /etc by itself")
        sim = run(["dpkg-deb", "-c", debs["qv-wlan-snmp-sim"]]).stdout
        check(re.search(r"\./usr/lib/[^/]+/qv-wlan-snmp/qv_wlan_sim\.so\n", sim) is not None,
              f"qv-wlan-snmp-sim lacks the data source:\n{sim}")

        # dpkg -i into a scratch root with an empty database.
        root = os.path.join(work, "root")
        for d in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "var/lib/dpkg/triggers"):
            os.makedirs(os.path.join(root, d))
        open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
        dpkg(root, "-i", *debs.values())
        listed = run(["dpkg-query", f"--admindir={root}/var/lib/dpkg", "-W", "-f", "${Package} ${Status}\\n"]).stdout
        for name in debs:
            check(f"{name} install ok installed" in listed, f"{name} not installed: {listed}")

        # snmpd from the installed snippet, paths moved into the scratch root,
        # with the installed simulated data source (its built-in demo) enabled
        # as the snippet describes.
        conf = open(f"{root}/usr/share/qv-wlan-snmp/snmpd.conf.d/qv-wlan.conf").read()
        conf = conf.replace(" /usr/", f" {root}/usr/")
        check("\n#dlmod qv_wlan_sim " in conf, "the snippet has no commented sim line")
        conf = conf.replace("\n#dlmod qv_wlan_sim ", "\ndlmod qv_wlan_sim ")
        conf += '\ncreateUser qvmonitor SHA "deb-test-auth-77" AES "deb-test-priv-77"\n'
        v3 = ["-v3", "-u", "qvmonitor", "-l", "authPriv", "-a", "SHA", "-A", "deb-test-auth-77",
              "-x", "AES", "-X", "deb-test-priv-77"]
        env = mib_env(a.base_mib_dir, f"{root}/usr/share/snmp/mibs")
        with Agent(conf, ready_args=v3) as agent:
            tab = run(["snmptable", "-Cf", "|", *v3, "-r", "1", "-t", "3", agent.target,
                       "QV-WLAN-MIB::qvRadioAttributeTable"], env=env, check=False)
            rows = [l for l in tab.stdout.splitlines()[3:] if l.strip()]
            check(tab.returncode == 0 and tab.stdout.splitlines()[2:3] == ["qvRadioChannel|qvRadioTxPower|qvRadioNoiseFloor"]
                  and rows, f"snmptable through the installed package:\n{tab.stdout}{tab.stderr}\n{agent.read_log()}")
            walk = run(["snmpwalk", "-On", *v3, agent.target, SUBTREE], env=env, check=False)
            check(walk.stdout.count("\n") > 10, f"walk of the subtree:\n{walk.stdout}{walk.stderr}")

        # dpkg -r removes every file it installed.
        dpkg(root, "-r", *reversed(list(debs)))
        left = [os.path.relpath(os.path.join(d, f), root) for d, _s, fs in os.walk(f"{root}/usr") for f in fs]
        check(not left, f"files left after dpkg -r: {left}")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if failures:
        print("\n".join(failures))
        return 1
    print(f"packages {sorted(debs)} install, serve and remove cleanly")
    return 0


if __name__ == "__main__":
    sys.exit(main())
