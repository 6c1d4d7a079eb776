#!/usr/bin/python3
# SPDX-License-Identifier: BSD-3-Clause
"""The association table served through snmpd's pass_persist, written the way
such scripts usually are: on each request read the whole table from the
wireless data source, build the sorted list of instances, answer from it.

    pass_persist .1.3.6.1.4.1.32473.1.1.1.2.1.2 /usr/bin/python3 qv_assoc_pass.py --source LIB [--cache S]

--source: the data-source library (its qv_wlan_get_first_ass/next_ass and
qv_free_ref_mem are called through ctypes; a generated access point follows
QV_SIM_GENERATE from snmpd's environment). --cache S: keep the list for S
seconds instead of rebuilding it for every request (the usual first fix).
"""
import argparse
import bisect
import ctypes
import os
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "harness"))
from qvagent import reference  # noqa: E402  the one reader of the column reference

TABLE = next(t for t in reference("tables") if t["table"] == "qvAssociationTable")
BASE = (1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1, TABLE["arc"])
RECORD = TABLE["size"]
# column: (record offset, value kind as the reference names it, room)
COLUMNS = {c["column"]: (c["offset"], c["value"], c["room"]) for c in reference("columns") if c["table"] == TABLE["table"]}
MAX_ROWS = 100000  # bounds the read loop


class Source:
    def __init__(self, path):
        lib = ctypes.CDLL(path)
        self.libc = ctypes.CDLL(None)
        self.libc.malloc.restype = ctypes.c_void_p
        self.libc.malloc.argtypes = [ctypes.c_size_t]
        self.libc.free.argtypes = [ctypes.c_void_p]
        self.first = lib.qv_wlan_get_first_ass
        self.first.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
        self.next = lib.qv_wlan_get_next_ass
        self.next.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.release = lib.qv_free_ref_mem
        self.release.argtypes = [ctypes.c_void_p]

    def rows(self):
        """Every association record, each fetched into its own block and
        released after copying, as the data source expects."""
        out = []
        cursor = 0
        for n in range(MAX_ROWS):
            block = self.libc.malloc(4 + RECORD + 4)
            if not block:
                break
            ctypes.c_uint32.from_address(block + 4 + RECORD).value = cursor
            rc = (self.first(block + 4 + RECORD, block + 4, 1) if n == 0
                  else self.next(block + 4 + RECORD, block + 4))
            if rc != 0:
                self.libc.free(block)
                break
            ctypes.c_uint32.from_address(block).value = 1
            out.append(ctypes.string_at(block + 4, RECORD))
            cursor = ctypes.c_uint32.from_address(block + 4 + RECORD).value
            self.release(block + 4)
        return out


def instances(records):
    """Sorted (oid, type, value) of every column of every row."""
    table = []
    for rec in records:
        index = (struct.unpack_from("=i", rec, 0)[0], 6) + tuple(rec[4:10])
        for col, (off, kind, size) in COLUMNS.items():
            if kind == "integer":
                typ, val = "integer", str(struct.unpack_from("=i", rec, off)[0])
            elif kind == "counter32":
                typ, val = "counter", str(struct.unpack_from("=I", rec, off)[0])
            elif kind == "ipaddress":
                typ, val = "ipaddress", ".".join(str(b) for b in rec[off:off + 4])
            elif kind == "mac":
                typ, val = "octet", " ".join("%02x" % b for b in rec[off:off + size])
            else:
                raw = rec[off:off + size].split(b"\0", 1)[0]
                typ, val = "string", raw.decode("latin-1")
            table.append((BASE + (1, col) + index, typ, val))
    table.sort()
    return table


def parse_oid(text):
    return tuple(int(x) for x in text.strip().strip(".").split(".") if x)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--source", required=True)
    ap.add_argument("--cache", type=float, default=0.0)
    args = ap.parse_args()
    source = Source(args.source)
    cached, cached_at = None, 0.0

    def current():
        nonlocal cached, cached_at
        if args.cache > 0 and cached is not None and time.monotonic() - cached_at < args.cache:
            return cached
        cached, cached_at = instances(source.rows()), time.monotonic()
        return cached

    out = sys.stdout
    for line in sys.stdin:  # ends when snmpd closes the pipe
        cmd = line.strip().lower()
        if cmd == "ping":
            out.write("PONG\n")
        elif cmd in ("get", "getnext"):
            oid = parse_oid(sys.stdin.readline())
            table = current()
            if cmd == "get":
                i = bisect.bisect_left(table, (oid,))
                hit = i < len(table) and table[i][0] == oid
            else:
                i = bisect.bisect_right(table, (oid, "\xff"))  # first instance after oid
                hit = i < len(table)
            if hit:
                o, typ, val = table[i]
                out.write(".%s\n%s\n%s\n" % (".".join(map(str, o)), typ, val))
            else:
                out.write("NONE\n")
        elif cmd == "set":
            sys.stdin.readline()
            sys.stdin.readline()
            out.write("not-writable\n")
        elif cmd == "":
            continue
        else:
            out.write("NONE\n")
        out.flush()


if __name__ == "__main__":
    main()
