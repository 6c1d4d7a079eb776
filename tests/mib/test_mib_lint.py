#!/usr/bin/env python3
"""QV-WLAN-MIB passes smilint at level 6, reading nothing but the IETF base
modules that scripts/deps/mib.sh installs."""

import os
import sys

import qvargs
from qvsnmp import mib_env, run

# smilint messages that are accepted, each with the reason. None today.
ALLOWED = []


def main():
    a = qvargs.parse()
    mib = os.path.join(a.mib_dir, "QV-WLAN-MIB.txt")
    env = mib_env(a.base_mib_dir, a.mib_dir)
    env["SMIPATH"] = a.base_mib_dir  # imports must resolve from the base set alone
    p = run(["smilint", "-l", "6", "-s", mib], env=env, check=False)
    lines = [l for l in (p.stdout + p.stderr).splitlines() if l.strip()]
    unexpected = [l for l in lines if not any(allowed in l for allowed in ALLOWED)]
    if p.returncode != 0 or unexpected:
        print(f"smilint exited {p.returncode}; unexpected messages:")
        print("\n".join(unexpected))
        return 1
    # The module's name, as every tool looks it up.
    p = run(["smilint", "-l", "0", "-s", "QV-WLAN-MIB"],
            env=dict(env, SMIPATH=f"{a.base_mib_dir}:{a.mib_dir}"), check=False)
    if p.returncode != 0 or p.stdout.strip() or p.stderr.strip():
        print("smilint cannot find QV-WLAN-MIB by module name:", p.stdout, p.stderr)
        return 1
    print("smilint -l 6: clean")
    return 0


if __name__ == "__main__":
    sys.exit(main())
