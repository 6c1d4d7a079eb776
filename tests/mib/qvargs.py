"""Command-line arguments shared by the MIB, monitoring and install tests."""

import argparse
import os


def parse(extra=None):
    p = argparse.ArgumentParser()
    p.add_argument("--base-mib-dir", required=True)
    p.add_argument("--mib-dir", required=True)
    p.add_argument("--columns-dump")
    p.add_argument("--module")
    p.add_argument("--monitoring-dir")
    p.add_argument("--datasource", help="the simulated data source, qv_wlan_sim.so")
    p.add_argument("--sim-config", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "test-ap.json"),
                   help="access point description the data source serves")
    for name, kw in (extra or {}).items():
        p.add_argument(name, **kw)
    a = p.parse_args()
    # snmpd resolves a relative dlmod path against its own module directory.
    for k in ("module", "datasource", "sim_config", "columns_dump", "base_mib_dir", "mib_dir", "monitoring_dir"):
        if getattr(a, k, None):
            setattr(a, k, os.path.abspath(getattr(a, k)))
    return a
