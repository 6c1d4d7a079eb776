"""A real snmpd on 127.0.0.1 at a free port, with the module and the simulated
data source loaded by dlmod, for the robustness tests.

The process is started here and ended here, by its PID only. Optional
wrappers: a sanitizer runtime preloaded into the uninstrumented snmpd
(QV_SANITIZER_PRELOAD), or valgrind memcheck.
"""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import snmpwire

V3_USER = "qvrobust"
V3_AUTH = "qvrobust-auth-pass"
V3_PRIV = "qvrobust-priv-pass"


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Agent:
    def __init__(self, module, sim, sim_config=None, sim_generate=None, wrapper=None, env=None,
                 start_timeout=20.0, extra_config=(), sim_name="qv_wlan_sim"):
        self.module = module
        self.sim = sim
        self.sim_config = sim_config
        self.sim_generate = sim_generate
        self.wrapper = wrapper or []
        self.extra_env = env or {}
        self.start_timeout = start_timeout
        self.extra_config = list(extra_config)
        self.sim_name = sim_name
        self.dir = tempfile.mkdtemp(prefix="qv-robust-")
        self.log_path = os.path.join(self.dir, "snmpd.log")
        self.proc = None
        self.port = None

    def write_config(self):
        conf = os.path.join(self.dir, "snmpd.conf")
        lines = [
            "agentaddress udp:127.0.0.1:%d" % self.port,
            "rocommunity public 127.0.0.1",
            # Even a read-write community must not make the tables writable.
            "rwcommunity private 127.0.0.1",
            "createUser %s SHA %s AES %s" % (V3_USER, V3_AUTH, V3_PRIV),
            "rwuser %s priv" % V3_USER,
            "dlmod %s %s" % (self.sim_name, self.sim),
            "dlmod qv_if_iterate %s" % self.module,
        ] + self.extra_config
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        return conf

    def start(self):
        for _attempt in range(3):
            self.port = free_udp_port()
            conf = self.write_config()
            env = dict(os.environ)
            env.pop("LD_PRELOAD", None)
            env["SNMP_PERSISTENT_DIR"] = os.path.join(self.dir, "persist")
            env["MIBS"] = ""
            if self.sim_config:
                env["QV_SIM_CONFIG"] = self.sim_config
            if self.sim_generate:
                env["QV_SIM_GENERATE"] = self.sim_generate
            env.update(self.extra_env)
            cmd = self.wrapper + [
                "snmpd", "-f", "-Lf", self.log_path, "-C", "-c", conf,
                "-p", os.path.join(self.dir, "snmpd.pid"),
                "-I", "-smux,mteTrigger,mteTriggerConf",
            ]
            self.proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL,
                                         stderr=open(os.path.join(self.dir, "stderr.log"), "w"))
            if self.wait_ready():
                return self
            self.stop()
        raise RuntimeError("snmpd did not start; log:\n" + self.log())

    def wait_ready(self):
        deadline = time.monotonic() + self.start_timeout
        client = snmpwire.Client(self.port, timeout=0.5, retries=0)
        try:
            while time.monotonic() < deadline:
                if self.proc.poll() is not None:
                    return False
                try:
                    client.ask(snmpwire.GET, [snmpwire.SIM_LIVE_BLOCKS])
                    return True
                except TimeoutError:
                    pass
            return False
        finally:
            client.close()

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def rss_kib(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmRSS")

    def stop(self, timeout=30.0):
        """SIGTERM to our own snmpd, SIGKILL if it does not exit in time.
        Returns its exit status."""
        if self.proc is None:
            return None
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait(10)
        return self.proc.returncode

    def log(self):
        out = ""
        for name in ("snmpd.log", "stderr.log"):
            path = os.path.join(self.dir, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    out += f.read()
        return out

    def cleanup(self):
        if os.environ.get("QV_KEEP_AGENT_DIR"):
            print("agent files kept in", self.dir)
        else:
            shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
        if exc[0] is None:
            self.cleanup()
        else:
            print("snmpd log:\n" + self.log()[-4000:])
            print("agent files kept in", self.dir)
        return False


def error_lines(log_text):
    """Lines of snmpd's log that report a problem (the module's messages
    included), ignoring snmpd's start/stop chatter."""
    bad = []
    for line in log_text.splitlines():
        low = line.lower()
        if "problem encountered" in low or "error" in low or "malloc failed" in low:
            bad.append(line)
    return bad
