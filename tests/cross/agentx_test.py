"""The module in an AgentX subagent (snmpd -X with the simulated data source)
next to a master snmpd that knows nothing of it: every column of every table
through the master over v2c and v3; the subagent killed, the master still
answers its own objects and no stale table; a new subagent brings them back."""
import os
import signal
import sys

from e2e_cross import compare, describe
from qvagent import Agent

SYS_DESCR = ".1.3.6.1.2.1.1.1.0"


def main():
    with Agent(module=False, load=None, master=True) as master:
        sub = Agent(subagent_of=master)  # configuration: agentXSocket and the two dlmod lines
        want = describe(sub)
        with sub:
            ok = compare("v2c through the master", master.walk(), want)
            ok &= compare("v3 through the master", master.walk(version="3"), want)
            os.kill(sub.proc.pid, signal.SIGKILL)
            sub.proc.wait(10)
        alone = {**master.get(SYS_DESCR), **master.walk()}
        print("subagent killed; the master answers:", alone)
        ok &= isinstance(alone.get(SYS_DESCR, ("", ""))[1], bytes) and not set(alone) & set(want)
        again = Agent(subagent_of=master)
        describe(again)
        with again:
            ok &= compare("v2c through a new subagent", master.walk(), want)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
