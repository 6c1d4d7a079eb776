# SPDX-License-Identifier: BSD-3-Clause
"""What the agent must answer for a simulated access point description.

Builds every row's record bytes the way the description defines them (fill,
then fields, then raw patches) and reads each column back by the column
reference alone (offset, room, value kind), so the expectation owes nothing
to the module's own tables. Counter rates are not modelled: descriptions used
for exact comparisons have none.
"""

import ipaddress
import json

from qvagent import SUBTREE, reference

SECTIONS = {"qvXIfTable": "interfaces", "qvAssociationTable": "associations", "qvRadioStatsTable": "radio_stats",
            "qvVIfStatsTable": "vif_stats", "qvRadioAttributeTable": "radio_attributes"}
SNMP_TYPE = {"integer": "INTEGER", "counter32": "Counter32", "ipaddress": "IpAddress", "mac": "Hex-STRING",
             "string": "Hex-STRING"}


def _field_bytes(col, value, order):
    kind, room = col["value"], col["room"]
    if kind == "string":
        return value.encode().ljust(room, b"\0")
    if kind == "mac":
        return bytes.fromhex(value.replace(":", ""))
    if kind == "ipaddress":
        return ipaddress.IPv4Address(value).packed
    return int(value).to_bytes(4, order, signed=kind == "integer")


def _answer(col, rec, order):
    kind, off, room = col["value"], col["offset"], col["room"]
    raw = bytes(rec[off:off + room])
    if kind == "string":
        raw = raw.split(b"\0")[0]  # within the room only
    if kind in ("integer", "counter32"):
        raw = int.from_bytes(raw, order, signed=kind == "integer")
    # Net-SNMP's tools print an empty string as "" with no type.
    return ("", b"") if raw == b"" else (SNMP_TYPE[kind], raw)


def records(desc, order="little"):
    """(table reference row, its columns, cursor, record bytes) for every row
    of a description (parsed JSON), tables in registration order."""
    columns = reference("columns")
    for table in reference("tables"):
        cols = [c for c in columns if c["table"] == table["table"]]
        for position, row in enumerate(desc.get(SECTIONS[table["table"]], [])):
            rec = bytearray((bytes.fromhex(row.get("fill", "00")) * table["size"])[:table["size"]])
            if table["index"] == "first+mac":
                rec[0:4] = int(row.get("first_index", 0)).to_bytes(4, order, signed=True)
            for col in cols:
                if col["object"] in row:
                    data = _field_bytes(col, row[col["object"]], order)
                    rec[col["offset"]:col["offset"] + len(data)] = data
            for patch in row.get("raw", []):
                data = bytes.fromhex(patch["hex"])
                rec[patch["offset"]:patch["offset"] + len(data)] = data
            yield table, cols, row.get("cursor", position), rec


def expected_walk(description, order="little"):
    """{instance oid: (tool's type word, value)} for a description file, for
    an agent whose processor has byte order `order`."""
    with open(description) as f:
        desc = json.load(f)
    answers = {}
    for table, cols, cursor, rec in records(desc, order):
        if table["index"] == "first+mac":
            index = "%d.6.%s" % (int.from_bytes(rec[0:4], order, signed=True), ".".join(map(str, rec[4:10])))
        else:
            index = str(cursor)
        for col in cols:
            answers[f"{SUBTREE}.{table['arc']}.1.{col['column']}.{index}"] = _answer(col, rec, order)
    return answers
