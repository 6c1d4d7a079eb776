"""Command-line arguments shared by the MIB, monitoring and install tests."""

import argparse
import os


def parse(extra=None):
    p = argparse.ArgumentParser()
    p.add_argument("--base-mib-dir", required=True)
    p.add_argument("--mib-dir", required=True)
    p.add_argument("--columns-dump")
    p.add_argument("--module")
    p.add_argument("--datasource")
    for name, kw in (extra or {}).items():
        p.add_argument(name, **kw)
    a = p.parse_args()
    # snmpd resolves a relative dlmod path against its own module directory.
    for k in ("module", "datasource", "columns_dump", "base_mib_dir", "mib_dir", "monitoring_dir"):
        if getattr(a, k, None):
            setattr(a, k, os.path.abspath(getattr(a, k)))
    return a
