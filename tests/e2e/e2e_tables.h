/*
 * What the end-to-end tests know about the five tables: column numbers,
 * object names and SNMP types as the MIB defines them, written down here
 * independently of the module's own tables, and how a description-file entry
 * turns into an instance OID and an expected value.
 */
#ifndef QV_E2E_TABLES_H
#define QV_E2E_TABLES_H

#include "snmpd_fixture.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>

#include <string>
#include <vector>

namespace qv_e2e {

using qv_test::Oid;
using qv_test::VarBind;
using json = nlohmann::json;

enum class Kind { String, Mac, IpAddress, Integer, Counter32 };

inline u_char asn_type(Kind k) {
    switch (k) {
    case Kind::String:
    case Kind::Mac: return ASN_OCTET_STR;
    case Kind::IpAddress: return ASN_IPADDRESS;
    case Kind::Integer: return ASN_INTEGER;
    case Kind::Counter32: return ASN_COUNTER;
    }
    return 0;
}

struct ColumnDef {
    unsigned number;
    const char *name;
    Kind kind;
};

struct TableDef {
    const char *name;
    const char *json_key; /* list in the description file */
    oid number;           /* 1.3.6.1.4.1.32473.1.1.1.2.1.<number> */
    bool client_index;    /* INTEGER first index + MAC, else the cursor */
    std::vector<ColumnDef> columns;
};

inline const Oid &subtree() {
    static const Oid root = qv_test::parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1");
    return root;
}

inline Oid column_oid(const TableDef &t, unsigned column) {
    return qv_test::concat(subtree(), {t.number, 1, column});
}

inline Oid instance_oid(const TableDef &t, unsigned column, const Oid &index) {
    return qv_test::concat(column_oid(t, column), index);
}

inline const std::vector<TableDef> &tables() {
    using K = Kind;
    static const std::vector<TableDef> defs = {
        {"qvXIfTable", "interfaces", 1, false,
         {{1, "qvIfName", K::String},
          {2, "qvSSIDName", K::String},
          {3, "qvIfPromiscuous", K::Integer},
          {4, "qvIfType", K::Integer},
          {5, "qvIfMode", K::Integer},
          {6, "qvIfConfMode", K::Integer}}},
        {"qvAssociationTable", "associations", 2, true,
         {{1, "qvClientMac", K::Mac},
          {2, "qvClientIP", K::IpAddress},
          {3, "qvClientHostname", K::String},
          {4, "qvClientRSSI", K::Integer},
          {5, "qvClientLinkUptime", K::Counter32},
          {6, "qvClientCWPUsed", K::Integer},
          {7, "qvClientAuthMethod", K::Integer},
          {8, "qvClientEncryptionMethod", K::Integer},
          {9, "qvClientMACProtocol", K::Integer},
          {10, "qvClientSSID", K::String},
          {11, "qvClientVLAN", K::Integer},
          {12, "qvClientUserProfId", K::Integer},
          {13, "qvClientChannel", K::Integer},
          {14, "qvClientLastTxRate", K::Integer},
          {15, "qvClientUsername", K::String},
          {16, "qvClientRxDataFrames", K::Counter32},
          {17, "qvClientRxDataOctets", K::Counter32},
          {18, "qvClientRxMgtFrames", K::Counter32},
          {19, "qvClientRxUnicastFrames", K::Counter32},
          {20, "qvClientRxMulticastFrames", K::Counter32},
          {21, "qvClientRxBroadcastFrames", K::Counter32},
          {22, "qvClientRxMICFailures", K::Counter32},
          {23, "qvClientTxDataFrames", K::Counter32},
          {24, "qvClientTxMgtFrames", K::Counter32},
          {25, "qvClientTxDataOctets", K::Counter32},
          {26, "qvClientTxUnicastFrames", K::Counter32},
          {27, "qvClientTxMulticastFrames", K::Counter32},
          {28, "qvClientTxBroadcastFrames", K::Counter32},
          {29, "qvClientLastRxRate", K::Integer},
          {30, "qvClientTxBeDataFrames", K::Counter32},
          {31, "qvClientTxBgDataFrames", K::Counter32},
          {32, "qvClientTxViDataFrames", K::Counter32},
          {33, "qvClientTxVoDataFrames", K::Counter32},
          {34, "qvClientTxAirtime", K::Counter32},
          {35, "qvClientRxAirtime", K::Counter32},
          {36, "qvClientAssociationTime", K::Counter32},
          {37, "qvClientBSSID", K::Mac}}},
        {"qvRadioStatsTable", "radio_stats", 3, false,
         {{1, "qvRadioTxDataFrames", K::Counter32},
          {2, "qvRadioTxUnicastDataFrames", K::Counter32},
          {3, "qvRadioTxMulticastDataFrames", K::Counter32},
          {4, "qvRadioTxBroadcastDataFrames", K::Counter32},
          {5, "qvRadioTxNonBeaconMgtFrames", K::Counter32},
          {6, "qvRadioTxBeaconFrames", K::Counter32},
          {7, "qvRadioTxTotalRetries", K::Counter32},
          {8, "qvRadioTxTotalFramesDropped", K::Counter32},
          {9, "qvRadioTxTotalFrameErrors", K::Counter32},
          {10, "qvRadioTxFEForExcessiveHWRetries", K::Counter32},
          {11, "qvRadioRxTotalDataFrames", K::Counter32},
          {12, "qvRadioRxUnicastDataFrames", K::Counter32},
          {13, "qvRadioRxMulticastDataFrames", K::Counter32},
          {14, "qvRadioRxBroadcastDataFrames", K::Counter32},
          {15, "qvRadioRxMgtFrames", K::Counter32},
          {16, "qvRadioRxTotalFrameDropped", K::Counter32},
          {17, "qvRadioTxBeDataFrames", K::Counter32},
          {18, "qvRadioTxBgDataFrames", K::Counter32},
          {19, "qvRadioTxViDataFrames", K::Counter32},
          {20, "qvRadioTxVoDataFrames", K::Counter32},
          {21, "qvRadioTXRTSFailures", K::Counter32},
          {22, "qvRadioTxAirtime", K::Counter32},
          {23, "qvRadioRxAirtime", K::Counter32}}},
        {"qvVIfStatsTable", "vif_stats", 4, false,
         {{1, "qvVIfRxDataFrames", K::Counter32},
          {2, "qvVIfRxUnicastDataFrames", K::Counter32},
          {3, "qvVIfRxMulticastDataFrames", K::Counter32},
          {4, "qvVIfRxBroadcastDataFrames", K::Counter32},
          {5, "qvVIfRxErrorFrames", K::Counter32},
          {6, "qvVIfRxDroppedFrames", K::Counter32},
          {7, "qvVIfTxDataFrames", K::Counter32},
          {8, "qvVIfTxUnicastDataFrames", K::Counter32},
          {9, "qvVIfTxMulticastDataFrames", K::Counter32},
          {10, "qvVIfTxBroadcastDataFrames", K::Counter32},
          {11, "qvVIfTxErrorFrames", K::Counter32},
          {12, "qvVIfTxDroppedFrames", K::Counter32},
          {13, "qvVIfTxBeDataFrames", K::Counter32},
          {14, "qvVIfTxBgDataFrames", K::Counter32},
          {15, "qvVIfTxViDataFrames", K::Counter32},
          {16, "qvVIfTxVoDataFrames", K::Counter32},
          {17, "qvVIfTxAirtime", K::Counter32},
          {18, "qvVIfRxAirtime", K::Counter32}}},
        {"qvRadioAttributeTable", "radio_attributes", 5, false,
         {{1, "qvRadioChannel", K::Integer}, {2, "qvRadioTxPower", K::Integer}, {3, "qvRadioNoiseFloor", K::Integer}}},
    };
    return defs;
}

inline const TableDef &table(const std::string &name) {
    for (const auto &t : tables())
        if (name == t.name) return t;
    throw std::runtime_error("no table " + name);
}

inline std::string mac_bytes(const std::string &text) { return qv_test::bytes_from_hex(text); }

inline std::string ip_bytes(const std::string &dotted) {
    unsigned char b[4] = {};
    if (::inet_pton(AF_INET, dotted.c_str(), b) != 1) throw std::runtime_error("bad IPv4 " + dotted);
    return std::string(reinterpret_cast<char *>(b), 4);
}

/* The instance part of an entry's OIDs: its cursor, or for the association
 * table the first index, the MAC's length 6 and its six octets. */
inline Oid entry_index(const TableDef &t, const json &entry) {
    if (!t.client_index) return {entry.at("cursor").get<oid>()};
    Oid index = {entry.at("first_index").get<oid>(), 6};
    for (unsigned char c : mac_bytes(entry.at("qvClientMac").get<std::string>())) index.push_back(c);
    return index;
}

/* The value a column must show for a field given in the description file. */
inline VarBind expected_value(const ColumnDef &c, const json &v) {
    VarBind vb;
    vb.type = asn_type(c.kind);
    switch (c.kind) {
    case Kind::String: vb.octets = v.get<std::string>(); break;
    case Kind::Mac: vb.octets = mac_bytes(v.get<std::string>()); break;
    case Kind::IpAddress: vb.octets = ip_bytes(v.get<std::string>()); break;
    case Kind::Integer: vb.integer = v.get<int32_t>(); break;
    case Kind::Counter32: vb.unsigned32 = v.get<uint32_t>(); break;
    }
    return vb;
}

/* Type and value of two bindings, ignoring their names. */
inline bool same_value(const VarBind &a, const VarBind &b) {
    if (a.type != b.type) return false;
    switch (a.type) {
    case ASN_INTEGER: return a.integer == b.integer;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS: return a.unsigned32 == b.unsigned32;
    default: return a.octets == b.octets;
    }
}

inline std::string describe(const VarBind &vb) {
    std::string out = qv_test::to_string(vb.name) + " type 0x";
    static const char hex[] = "0123456789abcdef";
    out += hex[vb.type >> 4];
    out += hex[vb.type & 15];
    switch (vb.type) {
    case ASN_INTEGER: out += " INTEGER " + std::to_string(vb.integer); break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS: out += " " + std::to_string(vb.unsigned32); break;
    case ASN_OCTET_STR:
    case ASN_IPADDRESS: out += " octets " + qv_test::hex_of(vb.octets); break;
    default: break;
    }
    return out;
}

} // namespace qv_e2e

#endif /* QV_E2E_TABLES_H */
