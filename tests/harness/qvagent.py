# SPDX-License-Identifier: BSD-3-Clause
"""The one snmpd fixture and SNMP client of the test suites.

An Agent is a real snmpd on 127.0.0.1 at a free UDP port, started here and
stopped here by its PID, loading the module and a data source (by default the
simulated access point) the way users load them. It runs plain, under a
wrapper (valgrind, qemu-user: QV_AGENT_WRAPPER), with a preloaded sanitizer
runtime (QV_SANITIZER_PRELOAD), or as an AgentX master or subagent. Queries go
through Net-SNMP's command-line tools, the client operators use.

Paths come from the environment that CTest sets (tests/CMakeLists.txt):
QV_MODULE, QV_SIM, QV_SNMPD, QV_BASE_MIB_DIR, QV_MIB_DIR, QV_REFERENCE_DIR.
"""

import csv
import os
import pathlib
import re
import shlex
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.request

SUBTREE = ".1.3.6.1.4.1.32473.1.1.1.2.1"
SYS_UPTIME = ".1.3.6.1.2.1.1.3.0"
V3_USER, V3_AUTH, V3_PRIV = "qvtest", "qvtest-auth-pass", "qvtest-priv-pass"


def reference(name):
    """Rows of tests/reference/<name>.tsv as dicts (numbers as ints)."""
    path = os.path.join(os.environ.get("QV_REFERENCE_DIR", os.path.join(os.path.dirname(__file__), "..", "reference")),
                        name + ".tsv")
    with open(path) as f:
        rows = csv.DictReader((line for line in f if not line.startswith("#")), delimiter="\t")
        rows = [{k: int(v) if v.isdigit() else v for k, v in row.items()} for row in rows]
    for t in rows if name == "tables" else ():  # a table's last column: its highest in columns.tsv
        t["last"] = max(c["column"] for c in reference("columns") if c["table"] == t["table"])
    return rows


def free_port(kind=socket.SOCK_DGRAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def http(port, path, timeout=30):
    """GET from a server of ours on loopback until it answers (bounded in time): the body, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            return urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=10).read().decode()
        except OSError:
            time.sleep(0.5)


def serve(cmd, log):
    """Starts a server (an exporter, Prometheus) on a free loopback port, which replaces @PORT@ in
    its arguments, and waits until it answers HTTP: (process, port). The caller stops it."""
    port = free_port(socket.SOCK_STREAM)
    proc = subprocess.Popen([a.replace("@PORT@", str(port)) for a in cmd], stdout=open(log, "w"),
                            stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    if http(port, "/") is None:
        proc.kill()
        raise AssertionError(f"{cmd[0]} did not answer; log:\n{open(log).read()[-3000:]}")
    return proc, port


def mib_env():
    """Environment in which Net-SNMP's tools read QV-WLAN-MIB and its base modules."""
    dirs = f"{os.environ['QV_BASE_MIB_DIR']}:{os.environ['QV_MIB_DIR']}"
    return {"MIBDIRS": dirs, "SMIPATH": dirs, "MIBS": "QV-WLAN-MIB"}


def parse_value(kind, text):
    if kind in ("Hex-STRING", "STRING") or kind is None and text == '""':
        return bytes.fromhex(text) if kind == "Hex-STRING" else text.strip('"').encode()
    if kind == "IpAddress":
        return bytes(int(p) for p in text.split("."))
    if kind in ("INTEGER", "Counter32", "Gauge32", "Timeticks"):
        return int(re.sub(r"^\((\d+)\).*", r"\1", text))
    return text


class Agent:
    def __init__(self, *, datasource=None, module=True, load="dlmod", sim_config=None, sim_generate=None,
                 config=(), options=(), env=None, wrapper=None, snmpd=None, master=False, subagent_of=None,
                 start_timeout=None, writable=False):
        self.datasource = datasource or os.environ.get("QV_SIM")
        self.module = os.environ["QV_MODULE"] if module is True else module
        self.load, self.config, self.master, self.subagent_of = load, list(config), master, subagent_of
        self.options = list(options)  # more snmpd arguments, such as -Dtoken
        self.access = "rw" if writable else "ro"  # writable: a SET reaches the tables' own refusal
        self.env = {"QV_SIM_CONFIG": os.path.abspath(sim_config) if sim_config else "", "QV_SIM_GENERATE": sim_generate or "", **(env or {})}
        self.wrapper = wrapper if wrapper is not None else shlex.split(os.environ.get("QV_AGENT_WRAPPER", ""))
        self.snmpd = snmpd or os.environ.get("QV_SNMPD", "/usr/sbin/snmpd")
        self.start_timeout = start_timeout or (90 if self.wrapper else 20)
        self.dir = tempfile.mkdtemp(prefix="qv-agent-")
        self.log_path = os.path.join(self.dir, "snmpd.log")
        self.socket = os.path.join(self.dir, "agentx.sock")
        self.proc, self.port = None, None

    @property
    def target(self):
        return f"udp:127.0.0.1:{self.port}"

    def _conf(self):
        lines = [f"createUser {V3_USER} SHA {V3_AUTH} AES {V3_PRIV}", f"{self.access}user {V3_USER} priv",
                 f"{self.access}community public 127.0.0.1", "dontLogTCPWrappersConnects yes"]
        if self.master:
            lines += ["master agentx", f"agentXSocket {self.socket}"]
        if self.subagent_of:
            lines = [f"agentXSocket {self.subagent_of.socket}"]
        if self.datasource and self.load == "dlmod":
            lines.append(f"dlmod {os.path.basename(self.datasource).split('.')[0]} {self.datasource}")
        if self.module:
            lines.append(f"dlmod qv_if_iterate {self.module}")
        path = os.path.join(self.dir, "snmpd.conf")
        with open(path, "w") as f:
            f.write("\n".join(lines + self.config) + "\n")
        return path

    def start(self):
        for _attempt in range(3):
            self.port = free_port()
            env = {**os.environ, **self.env, "SNMP_PERSISTENT_DIR": os.path.join(self.dir, "persist"),
                   "MIBS": "", "MIBDIRS": self.dir}
            preload = [p for p in (os.environ.get("QV_SANITIZER_PRELOAD"),
                                   self.datasource if self.load == "preload" else None) if p]
            env["LD_PRELOAD"] = " ".join(preload)
            if os.environ.get("QV_SANITIZER_PRELOAD"):
                env.update(self._sanitizer_env())
            args = ["-f", "-C", "-c", self._conf(), "-Lf", self.log_path, "-p", os.path.join(self.dir, "pid"),
                    "-I", "-smux,mteTrigger,mteTriggerConf", *self.options]
            # A subagent serves only what it loads; the master keeps its own objects.
            args += ["-X", "-I", "dlmod"] if self.subagent_of else [f"udp:127.0.0.1:{self.port}"]
            with open(os.path.join(self.dir, "stderr.log"), "a") as err:
                self.proc = subprocess.Popen(self.wrapper + [self.snmpd] + args, env=env, cwd=self.dir,
                                             stdin=subprocess.DEVNULL, stdout=err, stderr=err)
            if self._ready():
                return self
            self.stop()
        raise AssertionError(f"snmpd did not come up in {self.start_timeout} s; log:\n{self.log()}")

    def _ready(self):
        deadline = time.monotonic() + self.start_timeout
        while time.monotonic() < deadline and self.proc.poll() is None:
            if self.subagent_of:
                # Registered with the master once the master answers for our subtree.
                if self.subagent_of.snmp("snmpgetnext", "-On", SUBTREE, check=False).stdout.startswith(SUBTREE):
                    return True
            elif self.snmp("snmpget", SYS_UPTIME, check=False, timeout=0.3).returncode == 0:
                return True
            time.sleep(0.2)
        return False

    def stop(self, timeout=None):
        """SIGTERM to our snmpd, SIGKILL if it has not left in time (a few
        seconds: even under valgrind it leaves in about one); says which, and
        the exit status is then -9."""
        if self.proc is None or self.proc.poll() is not None:
            return self.proc and self.proc.returncode
        os.kill(self.proc.pid, signal.SIGTERM)
        try:
            return self.proc.wait(timeout or (10 if self.wrapper else 5))
        except subprocess.TimeoutExpired:
            print(f"snmpd {self.proc.pid} did not stop on SIGTERM in time; killed", flush=True)
            os.kill(self.proc.pid, signal.SIGKILL)
            return self.proc.wait(10)

    def _sanitizer_env(self):
        """Sanitizer reports into files of the agent's directory, leaks
        checked with the suppressions of what snmpd keeps from start-up."""
        supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
        return {"ASAN_OPTIONS": f"detect_leaks=1:abort_on_error=0:exitcode=23:detect_odr_violation=0:"
                                f"log_path={self.dir}/asan",
                "LSAN_OPTIONS": f"suppressions={supp}:print_suppressions=0",
                "UBSAN_OPTIONS": f"print_stacktrace=1:halt_on_error=1:log_path={self.dir}/ubsan"}

    def sanitizer_reports(self):
        """Reports the sanitizers left after snmpd stopped: memory errors and
        undefined behaviour anywhere, leaks allocated through the module or a
        data source (unloaded by then: their frames show as <unknown module>)."""
        found = []
        for name in sorted(os.listdir(self.dir)):
            if name.startswith(("asan", "ubsan")):
                with open(os.path.join(self.dir, name), errors="replace") as f:
                    text = f.read()
                if "runtime error" in text or "ERROR: AddressSanitizer" in text:
                    found.append(text)
                found += [leak for leak in re.split(r"\n(?=(?:Direct|Indirect) leak)", text)
                          if leak.startswith(("Direct", "Indirect")) and re.search(r"qv|<unknown module>", leak)]
        return found

    def log(self):
        paths = [os.path.join(self.dir, name) for name in ("snmpd.log", "stderr.log")]
        return "".join(pathlib.Path(path).read_text(errors="replace") for path in paths if os.path.exists(path))

    def __enter__(self):
        return self.start()

    def __exit__(self, kind, *_):
        self.stop()
        if kind is None and not os.environ.get("QV_KEEP_AGENT_DIR"):
            shutil.rmtree(self.dir, ignore_errors=True)
        else:
            print(f"snmpd log ({self.dir}):\n{self.log()[-4000:]}")
        return False

    # --- the client -------------------------------------------------------
    def auth(self, version="2c"):
        if version == "3":
            return ["-v3", "-l", "authPriv", "-u", V3_USER, "-a", "SHA", "-A", V3_AUTH, "-x", "AES", "-X", V3_PRIV]
        return [f"-v{version}", "-c", "public"]

    def snmp(self, tool, *args, version="2c", mibs=False, check=True, timeout=None):
        """Runs a Net-SNMP tool against this agent; returns the CompletedProcess."""
        target = self.subagent_of.target if self.subagent_of else self.target
        wait = timeout or (10 if self.wrapper else 3)
        env = {**os.environ, "SNMPCONFPATH": self.dir, **(mib_env() if mibs else {"MIBS": "", "MIBDIRS": self.dir})}
        env.pop("LD_PRELOAD", None)  # the tools load none of our code: no sanitizer runtime to start
        # The target goes before the first object name: options come first, some with a value (-Cf |).
        n = next((i for i, a in enumerate(args) if re.match(r"\.?\d|[\w-]+::", a)), len(args))
        cmd = [tool, *self.auth(version), "-r", "1", "-t", str(wait), *args[:n], target, *args[n:]]
        p = subprocess.run(cmd, env=env, capture_output=True, text=True, errors="replace",
                           timeout=wait * 4 + 60)
        if check and p.returncode != 0:
            raise AssertionError(f"{shlex.join(cmd)} exited {p.returncode}\n{p.stdout}{p.stderr}")
        return p

    def walk(self, oid=SUBTREE, version="2c", bulk=True, options=()):
        """{oid: (type, value)} in the order answered: strings and IpAddress
        as bytes, numbers as ints. options: more tool options (-Cr7)."""
        out = self.snmp("snmpbulkwalk" if bulk else "snmpwalk", "-On", "-Ox", "-Oe", *options, oid,
                        version=version).stdout
        return self._parse(out)

    def get(self, *oids, version="2c"):
        return self._parse(self.snmp("snmpget", "-On", "-Ox", "-Oe", *oids, version=version, check=False).stdout)

    @staticmethod
    def _parse(out):
        # A long Hex-STRING goes on over the lines that follow (they do not start with an OID).
        found = re.finditer(r"^(\.[\d.]+) = (?:([\w-]+): )?(.*(?:\n(?!\.)[^\n]*)*)", out, re.M)
        return {m[1]: (m[2] or "", parse_value(m[2], " ".join(m[3].split()))) for m in found}
