#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
# generate.sh --secrets where another user has been: a file planted under the
# name of a temporary file (a symlink of user nobody) neither receives nor
# becomes the secrets, and a folder others can write (sticky or not) is refused.
import os, stat, subprocess, sys, tempfile  # noqa: E401

GEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "monitoring", "generate.sh")
env = {**os.environ, "QV_SNMP_V3_AUTH_PASS": "auth-pass-one", "QV_SNMP_V3_PRIV_PASS": "priv-pass-one"}
with tempfile.TemporaryDirectory() as d:
    os.symlink(f"{d}/stolen", f"{d}/v3.yml.tmp")
    os.lchown(f"{d}/v3.yml.tmp", 65534, 65534) if os.geteuid() == 0 else None
    subprocess.run(["bash", GEN, "--secrets", f"{d}/v3.yml"], env=env, check=True)
    st = os.lstat(f"{d}/v3.yml")
    errors = [f"secrets file: mode {st.st_mode:o}, owner {st.st_uid}"] if not stat.S_ISREG(st.st_mode) or st.st_mode & 0o137 or st.st_uid != os.geteuid() else []
    errors += ["the planted name received the secrets"] if os.path.exists(f"{d}/stolen") else []
    for mode in (0o777, 0o1777, 0o770):
        os.chmod(d, mode)
        if subprocess.run(["bash", GEN, "--secrets", f"{d}/open.yml"], env=env).returncode == 0 or os.path.exists(f"{d}/open.yml"):
            errors.append(f"wrote secrets into a folder of mode {mode:o}")
print("\n".join(errors) or "ok")
sys.exit(bool(errors))
