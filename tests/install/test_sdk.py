#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The data-source kit as a device maker uses it (docs/sdk.md): the module and
the kit installed into a scratch prefix, a new data source (sdk/sdk_ap.c)
built against the installed files alone, once with pkg-config and a plain cc
line, once with CMake's find_package; each loaded with the installed module
into snmpd, which must serve every value of every table as it was written."""

import glob
import json
import os
import shutil
import sys
import tempfile

from qvagent import Agent, reference
from qvmodel import SECTIONS, expected_walk
from test_package import must


def main(build, here):
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
    pattern = [bytes(0 if j == 12 else (k * 40 + r * 9 + j * 17 + 1) & 0xFF for j in range(13)) for k in range(5)
               for r in range(3)]
    desc = {SECTIONS[t["table"]]: [{"cursor": 10 * r + 1, "first_index": r, "fill": pattern[k * 3 + r].hex()}
                                   for r in range(3)] for k, t in enumerate(reference("tables"))}
    with open(f"{work}/ap.json", "w") as f:
        json.dump(desc, f)
    want = expected_walk(f"{work}/ap.json", sys.byteorder)
    module = glob.glob(f"{prefix}/**/qv_if_iterate.so", recursive=True)[0]
    failed = 0
    for so in (f"{work}/sdk_ap.so", f"{cm}/sdk_ap.so"):
        with Agent(module=module, datasource=so) as agent:
            got = agent.walk()
        bad = [f"{o}: got {got.get(o)}, want {w}" for o, w in want.items() if got.get(o) != w] + sorted(set(got) - set(want))
        print(f"{so}: {len(got)} values, {len(bad)} wrong", *bad[:20], sep="\n  ")
        failed += bool(bad)
    shutil.rmtree(work)
    return failed


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
