"""Shared helpers for the MIB, monitoring and install tests: a real snmpd on a
free loopback port with the module and a data source, and the environment
that makes Net-SNMP's tools read QV-WLAN-MIB from the repository."""

import os
import shutil
import socket
import subprocess
import tempfile
import time

SNMPD = "/usr/sbin/snmpd"
SUBTREE = ".1.3.6.1.4.1.32473.1.1.1.2.1"


def mib_env(base_mib_dir, mib_dir, extra=None):
    """Environment for Net-SNMP tools: only the base modules and ours."""
    env = dict(os.environ)
    env["MIBDIRS"] = f"{base_mib_dir}:{mib_dir}"
    env["MIBS"] = "QV-WLAN-MIB"
    env["SMIPATH"] = f"{base_mib_dir}:{mib_dir}"
    # Keep the user's ~/.snmp out of the picture.
    env["SNMPCONFPATH"] = "/nonexistent"
    if extra:
        env.update(extra)
    return env


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_tcp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run(cmd, env=None, timeout=30, check=True):
    p = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=timeout)
    if check and p.returncode != 0:
        raise AssertionError(f"{' '.join(cmd)} exited {p.returncode}\nstdout:\n{p.stdout}\nstderr:\n{p.stderr}")
    return p


class Agent:
    """snmpd in the foreground on 127.0.0.1:<free port>, configured by
    `conf_body`, with `preload` (the data source) in LD_PRELOAD. Stopped by
    its own PID."""

    def __init__(self, conf_body, preload=None, ready_args=None, env=None, port=None):
        self.conf_body = conf_body
        self.preload = preload
        self.ready_args = ready_args or ["-v2c", "-c", "public"]
        self.extra_env = env or {}
        self.port = port
        self.proc = None
        self.dir = None

    @property
    def target(self):
        return f"udp:127.0.0.1:{self.port}"

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="qv-snmpd-")
        last_log = ""
        for _attempt in range(3):
            if self.port is None or _attempt > 0:
                self.port = free_udp_port()
            conf = os.path.join(self.dir, "snmpd.conf")
            with open(conf, "w") as f:
                f.write(self.conf_body.replace("@PORT@", str(self.port)).replace("@DIR@", self.dir))
            env = dict(os.environ)
            env["SNMP_PERSISTENT_DIR"] = os.path.join(self.dir, "persist")
            env["MIBS"] = ""
            env["MIBDIRS"] = self.dir
            if self.preload:
                env["LD_PRELOAD"] = self.preload
            env.update(self.extra_env)
            self.log = os.path.join(self.dir, "snmpd.log")
            self.proc = subprocess.Popen(
                [SNMPD, "-f", "-C", "-c", conf, "-Lf", self.log, "-p", os.path.join(self.dir, "snmpd.pid"),
                 f"udp:127.0.0.1:{self.port}"],
                env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
            if self._wait_ready():
                return self
            last_log = self.read_log()
            self._stop()
        raise AssertionError(f"snmpd did not come up; log:\n{last_log}")

    def _wait_ready(self, seconds=15):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            p = subprocess.run(["snmpget", "-On", "-r", "0", "-t", "0.5", *self.ready_args, self.target,
                                ".1.3.6.1.2.1.1.3.0"],
                               capture_output=True, text=True, env={"PATH": os.environ["PATH"], "MIBS": "",
                                                                     "MIBDIRS": self.dir},
                               timeout=10)
            if p.returncode == 0 and "Timeticks" in p.stdout:
                return True
            time.sleep(0.2)
        return False

    def read_log(self):
        try:
            with open(self.log, errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def _stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)

    def __exit__(self, *exc):
        self._stop()
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)
        return False


def exporter_scrape(config_file, module, agent_port, workdir, timeout=20):
    """Starts Debian's prometheus-snmp-exporter on a free loopback port with
    `config_file`, scrapes `module` against 127.0.0.1:agent_port once and
    stops it by PID. Returns the exposition text. A new port is tried if the
    exporter exits at once (the free port was taken meanwhile)."""
    import urllib.request
    log_path = os.path.join(workdir, "exporter.log")
    for _attempt in range(3):
        port = free_tcp_port()
        with open(log_path, "w") as log:
            exporter = subprocess.Popen(["prometheus-snmp-exporter", f"--config.file={config_file}",
                                         f"--web.listen-address=127.0.0.1:{port}"],
                                        stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        try:
            url = f"http://127.0.0.1:{port}/snmp?module={module}&target=127.0.0.1:{agent_port}"
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline and exporter.poll() is None:
                try:
                    return urllib.request.urlopen(url, timeout=10).read().decode()
                except OSError:
                    time.sleep(0.2)
        finally:
            exporter.terminate()
            try:
                exporter.wait(timeout=10)
            except subprocess.TimeoutExpired:
                exporter.kill()
                exporter.wait(timeout=10)
        if time.monotonic() >= deadline:
            break
    with open(log_path) as f:
        raise AssertionError(f"no scrape from the exporter; its log:\n{f.read()}")


def sim_env(args):
    """snmpd environment that makes the preloaded simulated data source serve
    the test access point description."""
    return {"QV_SIM_CONFIG": args.sim_config}


def v2c_conf(module_so, extra=""):
    return (
        "rocommunity public 127.0.0.1\n"
        f"dlmod qv_if_iterate {module_so}\n" + extra
    )


# Each test script collects every mismatch before it reports, so one run
# shows all that is wrong.
failures = []


def check(cond, msg):
    if not cond:
        failures.append(msg)
