#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The operator's path of docs/install.md from the source tree to names over
SNMPv3: packages built without the test suite, all installed with dpkg into
a scratch root, the snippet enabled with the simulated data source and a user
of one's own, snmpd started from it, snmptable by name with only the
packaged MIB files, the monitoring files and a DEP-5 copyright file in each
package, and removal that leaves no file.

test_package.py sdk BUILD DIR: the data-source kit as a device maker uses it
(docs/sdk.md): the module and the kit installed into a scratch prefix, a new
data source (DIR/sdk_ap.c) built against the installed files alone, once with
pkg-config and a plain cc line, once with CMake's find_package; each loaded
with the installed module into snmpd, which must serve every value of every
table as the data source wrote it."""

import glob, json, os, pathlib, subprocess, sys, tempfile  # noqa: E401
from qvagent import Agent, reference
from qvmodel import SECTIONS, expected_walk

AUTH, PRIV = "pkg-test-auth-77", "pkg-test-priv-77"
V3 = ["-v3", "-u", "qvmonitor", "-a", "SHA", "-A", AUTH, "-x", "AES", "-X", PRIV]
failures = []


def check(ok, what):
    failures.extend([] if ok else [what])


def must(cmd, must=True, **kw):
    p = subprocess.run(cmd, capture_output=True, text=True, timeout=kw.pop("timeout", 60), **kw)
    if must and p.returncode != 0:
        raise SystemExit(f"{' '.join(cmd)} exited {p.returncode}:\n{p.stdout[-3000:]}{p.stderr[-3000:]}")
    return p


def main(source):
    work = tempfile.mkdtemp(prefix="qv-pkg-")
    build, root = f"{work}/build", f"{work}/root"
    must(["cmake", "-S", source, "-B", build, "-DQV_BUILD_TESTS=OFF",
          f"-DQV_BASE_MIB_DIR={os.environ['QV_BASE_MIB_DIR']}"], timeout=120)
    must(["cmake", "--build", build, "-j2"], timeout=600)
    must(["cpack"], cwd=build, timeout=300)
    debs = glob.glob(f"{build}/*.deb")
    dpkg = ["dpkg", f"--root={root}", f"--admindir={root}/var/lib/dpkg", "--log=/dev/null", "--force-not-root",
            "--force-depends", "--force-script-chrootless"]
    os.makedirs(f"{root}/var/lib/dpkg")  # dpkg makes the rest of its database
    open(f"{root}/var/lib/dpkg/status", "w").close()
    must(dpkg + ["-i", *debs])
    names = [os.path.basename(d).split("_")[0] for d in debs]
    dep5 = [os.path.exists(c) and open(c).readline() for c in (f"{root}/usr/share/doc/{n}/copyright" for n in names)]
    check(dep5 == ["Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"] * len(names),
          f"a machine-readable copyright file in each of {names}: {dep5}")

    # The snippet as install.md has it: the simulated data source enabled,
    # one user with the operator's passphrases; paths moved into the root.
    with open(f"{root}/usr/share/qv-wlan-snmp/snmpd.conf.d/qv-wlan.conf") as f:
        conf = f.read().replace("\n#dlmod qv_wlan_sim ", "\ndlmod qv_wlan_sim ").replace(" /usr/", f" {root}/usr/")
    conf += f'\ncreateUser qvmonitor SHA "{AUTH}" AES "{PRIV}"\n'
    mibs = {**os.environ, "MIBDIRS": f"{root}/usr/share/snmp/mibs", "MIBS": "SNMPv2-MIB:QV-WLAN-MIB"}
    with Agent(module=False, load="none", config=conf.splitlines()) as agent:
        def ask(tool, *args, level="authPriv"):  # as that user; the last argument is the object
            return must([tool, *V3, "-l", level, "-r", "1", "-t", "3", *args[:-1], agent.target, args[-1]], False, env=mibs)
        tab = ask("snmptable", "-Cf", "|", "QV-WLAN-MIB::qvRadioAttributeTable")
        lines = tab.stdout.splitlines()
        check(lines[2:3] == ["qvRadioChannel|qvRadioTxPower|qvRadioNoiseFloor"] and len(lines) > 3,
              f"snmptable by name:\n{tab.stdout}{tab.stderr}{agent.log()}")
        # The view by name: the system group (SNMPv2-MIB, packaged too) and our subtree, nothing else.
        walk = ask("snmpwalk", ".1").stdout.splitlines()
        outside = [l for l in walk if not l.startswith(("QV-WLAN-MIB::qv", "SNMPv2-MIB::sys"))]
        check(len(walk) > 50 and not outside and any(l.startswith("SNMPv2-MIB::sysUpTime.0 = Timeticks:") for l in walk),
              f"the view: {len(walk)} values, outside it {outside[:3]}")
        plain = ask("snmpget", "SNMPv2-MIB::sysUpTime.0", level="authNoPriv")
        check("Timeticks" not in plain.stdout, f"a request without privacy read {plain.stdout}")
    # The monitoring files as they are in the tree (their contents: tests/monitoring).
    check(os.path.isfile(f"{root}/usr/share/qv-wlan-snmp/monitoring/snmp.yml"), "the exporter configuration packaged")

    must(dpkg + ["-r", *names])
    left = [os.path.join(d, f) for d, _s, fs in os.walk(f"{root}/usr") for f in fs]
    check(not left, f"files left after removal: {left}")
    return work, f"{len(debs)} packages: installed, served names over SNMPv3, removed"


def sdk(build, here):
    work = tempfile.mkdtemp(prefix="qv-sdk-")
    prefix, cm = f"{work}/prefix", f"{work}/cmake"
    for component in ("module", "dev"):
        must(["cmake", "--install", build, "--prefix", prefix, "--component", component])
    env = {**os.environ, "PKG_CONFIG_PATH": ":".join(glob.glob(f"{prefix}/**/pkgconfig", recursive=True))}
    version = must(["pkg-config", "--modversion", "qv-wlan-datasource"], env=env).stdout.strip()
    must(["sh", "-c", f"cc -shared -fPIC -fvisibility=hidden -o {work}/sdk_ap.so {here}/sdk_ap.c "
                      "$(pkg-config --cflags --libs qv-wlan-datasource)"], env=env)
    must(["cmake", "-S", here, "-B", cm, f"-DCMAKE_PREFIX_PATH={prefix}", f"-DQV_VERSION={version}"])
    must(["cmake", "--build", cm])

    # What sdk_ap.c writes: per kind (tables in registration order) and row.
    desc = {SECTIONS[t["table"]]: [{"cursor": 10 * r + 1, "first_index": r, "fill": bytes(
        0 if j == 12 else (k * 40 + r * 9 + j * 17 + 1) & 0xFF for j in range(13)).hex()} for r in range(3)]
        for k, t in enumerate(reference("tables"))}
    pathlib.Path(f"{work}/ap.json").write_text(json.dumps(desc))
    want = expected_walk(f"{work}/ap.json", sys.byteorder)
    module = glob.glob(f"{prefix}/**/qv_if_iterate.so", recursive=True)[0]
    for so in (f"{work}/sdk_ap.so", f"{cm}/sdk_ap.so"):
        with Agent(module=module, datasource=so) as agent:
            got = agent.walk()
        bad = [f"{o}: got {got.get(o)}, want {want.get(o)}" for o in sorted(set(got) | set(want)) if got.get(o) != want.get(o)]
        check(not bad, "\n  ".join([f"{so}: {len(got)} values, {len(bad)} wrong", *bad[:20]]))
    return work, "a data source built with pkg-config and one with find_package: every value served"


if __name__ == "__main__":
    work, done = sdk(*sys.argv[2:]) if sys.argv[1] == "sdk" else main(sys.argv[1])
    print("\n".join(failures) or done)
    subprocess.run(["rm", "-rf", work])
    sys.exit(1 if failures else 0)
