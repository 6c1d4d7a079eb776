"""Minimal SNMP BER encoding and decoding for the robustness tests.

Hand-rolled on purpose: the malformed-packet generator needs to produce
messages no SNMP library would build, and the soak client needs to send many
requests cheaply. Only what the tests use: v1/v2c messages, a v3 header shell,
and decoding of v2c responses.
"""

import socket
import struct

INTEGER, OCTET_STRING, NULL, OID, SEQUENCE = 0x02, 0x04, 0x05, 0x06, 0x30
IPADDRESS, COUNTER32, GAUGE32, TIMETICKS, COUNTER64 = 0x40, 0x41, 0x42, 0x43, 0x46
NO_SUCH_OBJECT, NO_SUCH_INSTANCE, END_OF_MIB_VIEW = 0x80, 0x81, 0x82
GET, GETNEXT, RESPONSE, SET, GETBULK = 0xA0, 0xA1, 0xA2, 0xA3, 0xA5

QV_ROOT = (1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1)
SIM_LIVE_BLOCKS = (1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 99, 1, 0)
TABLE_COLUMNS = {1: 6, 2: 37, 3: 23, 4: 18, 5: 3}


def length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, body):
    return bytes([tag]) + length(len(body)) + body


def integer(value, tag=INTEGER):
    n = max(1, (value.bit_length() + 8) // 8)
    return tlv(tag, value.to_bytes(n, "big", signed=True))


def subid(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def oid_body(name):
    if len(name) < 2:
        return subid(name[0] * 40) if name else b""
    return subid(name[0] * 40 + name[1]) + b"".join(subid(s) for s in name[2:])


def oid(name):
    return tlv(OID, oid_body(name))


def varbind(name, value=None):
    return tlv(SEQUENCE, oid(name) + (value if value is not None else tlv(NULL, b"")))


def pdu(kind, request_id, names, error_status=0, error_index=0, values=None):
    vbs = b"".join(varbind(n, values[i] if values else None) for i, n in enumerate(names))
    return tlv(kind, integer(request_id) + integer(error_status) + integer(error_index) + tlv(SEQUENCE, vbs))


def message(version, community, body):
    """version: 0 = v1, 1 = v2c."""
    return tlv(SEQUENCE, integer(version) + tlv(OCTET_STRING, community) + body)


def request(kind, request_id, names, community=b"public", version=1, non_repeaters=0, max_repetitions=10):
    if kind == GETBULK:
        body = pdu(GETBULK, request_id, names, non_repeaters, max_repetitions)
    else:
        body = pdu(kind, request_id, names)
    return message(version, community, body)


# --- decoding ------------------------------------------------------------------

class DecodeError(Exception):
    pass


def read_tlv(data, pos):
    if pos + 2 > len(data):
        raise DecodeError("truncated")
    tag = data[pos]
    n = data[pos + 1]
    pos += 2
    if n & 0x80:
        k = n & 0x7F
        if k == 0 or k > 4 or pos + k > len(data):
            raise DecodeError("bad length")
        n = int.from_bytes(data[pos:pos + k], "big")
        pos += k
    if pos + n > len(data):
        raise DecodeError("truncated value")
    return tag, data[pos:pos + n], pos + n


def decode_oid(body):
    if not body:
        return ()
    out = [body[0] // 40, body[0] % 40]
    value = 0
    for b in body[1:]:
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            out.append(value)
            value = 0
    return tuple(out)


def decode_response(data):
    """Returns (request_id, error_status, error_index, [(oid, tag, value)])."""
    tag, body, _ = read_tlv(data, 0)
    if tag != SEQUENCE:
        raise DecodeError("not a sequence")
    _, _, pos = read_tlv(body, 0)             # version
    _, _, pos = read_tlv(body, pos)           # community
    tag, pdu_body, _ = read_tlv(body, pos)
    if tag != RESPONSE:
        raise DecodeError("not a response: 0x%x" % tag)
    values = []
    _, rid, p = read_tlv(pdu_body, 0)
    _, es, p = read_tlv(pdu_body, p)
    _, ei, p = read_tlv(pdu_body, p)
    _, vbl, _ = read_tlv(pdu_body, p)
    q = 0
    while q < len(vbl):
        _, vb, q = read_tlv(vbl, q)
        _, name, r = read_tlv(vb, 0)
        vtag, value, _ = read_tlv(vb, r)
        if vtag in (INTEGER,):
            value = int.from_bytes(value, "big", signed=True) if value else 0
        elif vtag in (COUNTER32, GAUGE32, TIMETICKS, COUNTER64):
            value = int.from_bytes(value, "big") if value else 0
        values.append((decode_oid(name), vtag, value))
    return (int.from_bytes(rid, "big", signed=True), int.from_bytes(es, "big"),
            int.from_bytes(ei, "big"), values)


class Client:
    """A UDP SNMP v2c client with a bounded timeout and retry count."""

    def __init__(self, port, community=b"public", timeout=2.0, retries=2):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.settimeout(timeout)
        self.addr = ("127.0.0.1", port)
        self.community = community
        self.retries = retries
        self.next_id = 1

    def close(self):
        self.sock.close()

    def send_raw(self, packet):
        self.sock.sendto(packet, self.addr)

    def drain(self):
        """Reads and drops whatever the agent answered to raw packets; returns
        how many answers there were."""
        timeout = self.sock.gettimeout()
        self.sock.setblocking(False)
        count = 0
        try:
            while True:
                self.sock.recv(65535)
                count += 1
        except (BlockingIOError, OSError):
            pass
        finally:
            self.sock.settimeout(timeout or 2.0)
        return count

    def ask(self, kind, names, **kw):
        rid = self.next_id
        self.next_id = (self.next_id + 1) & 0x7FFFFFFF or 1
        packet = request(kind, rid, names, community=self.community, **kw)
        for _ in range(self.retries + 1):
            self.sock.sendto(packet, self.addr)
            try:
                while True:
                    data = self.sock.recv(65535)
                    try:
                        got = decode_response(data)
                    except DecodeError:
                        continue
                    if got[0] == rid:
                        return got
            except socket.timeout:
                continue
        raise TimeoutError("no answer from 127.0.0.1:%d" % self.addr[1])

    def get(self, name):
        _, es, _, vbs = self.ask(GET, [name])
        return es, vbs[0] if vbs else None


def live_blocks(port):
    """The simulated data source's count of row blocks not yet released."""
    client = Client(port)
    try:
        es, (name, tag, value) = client.get(SIM_LIVE_BLOCKS)
    finally:
        client.close()
    if es or tag not in (INTEGER, GAUGE32, COUNTER32):
        raise RuntimeError("liveBlocks not readable: status %d tag 0x%x" % (es, tag))
    return value
