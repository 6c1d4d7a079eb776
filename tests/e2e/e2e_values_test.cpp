/*
 * Every table answered through a real snmpd from fixtures/values.json: exact
 * types and values of every column, index encoding, walk order, GETBULK,
 * missing rows and refused writes.
 */
#include "e2e_harness.h"

#include <algorithm>
#include <climits>
#include <map>
#include <set>

namespace qv_e2e {
namespace {

using qv_test::concat;
using qv_test::parse_oid;
using qv_test::to_string;

class ValuesAgent : public AgentSuite {
protected:
    static void SetUpTestSuite() {
        qv_test::AgentOptions options;
        options.description_file = fixture_path("values.json");
        options.extra_config = {"rwcommunity private 127.0.0.1"};
        start_agent(options);
    }
    static void TearDownTestSuite() { stop_agent(); }

    static const json &doc() {
        static const json d = load_fixture("values.json");
        return d;
    }

    /* The entry of a table whose index is `index`. */
    static const json &entry(const TableDef &t, const Oid &index) {
        for (const auto &e : doc().at(t.json_key))
            if (entry_index(t, e) == index) return e;
        throw std::runtime_error(std::string("fixture has no such row in ") + t.name);
    }

    /* GET of several columns of one row in a single request. */
    std::vector<VarBind> get_row(const TableDef &t, const Oid &index, const std::vector<unsigned> &columns) {
        std::vector<Oid> names;
        for (unsigned c : columns) names.push_back(instance_oid(t, c, index));
        qv_test::Response r = client().get(names);
        EXPECT_TRUE(r.ok()) << t.name << " GET status " << r.status << " errstat " << r.errstat;
        EXPECT_EQ(r.vbs.size(), names.size());
        return r.vbs;
    }

    std::vector<VarBind> get_all_columns(const TableDef &t, const Oid &index) {
        std::vector<unsigned> columns;
        for (const auto &c : t.columns) columns.push_back(c.number);
        return get_row(t, index, columns);
    }

    VarBind get(const std::string &dotted) { return client().get_one(parse_oid(dotted)); }
};

/* Every column of every table, in every row whose fields are all given by
 * name, against the description file: type and value must match exactly.
 * Rows with raw bytes are checked by the tests below. Each column is covered
 * by at least one row, and within such a row the numbers differ from column
 * to column, so a column answered from another column's field shows. */
TEST_F(ValuesAgent, EveryColumnAnswersItsFieldWithItsType) {
    for (const auto &t : tables()) {
        std::set<unsigned> covered;
        for (const auto &e : doc().at(t.json_key)) {
            if (e.contains("raw")) continue;
            const Oid index = entry_index(t, e);
            const std::vector<VarBind> got = get_all_columns(t, index);
            ASSERT_EQ(got.size(), t.columns.size());
            for (size_t i = 0; i < t.columns.size(); ++i) {
                const ColumnDef &c = t.columns[i];
                EXPECT_EQ(got[i].name, instance_oid(t, c.number, index));
                if (!e.contains(c.name)) continue;
                covered.insert(c.number);
                const VarBind want = expected_value(c, e.at(c.name));
                EXPECT_TRUE(same_value(got[i], want))
                    << t.name << "." << c.name << " row " << to_string(index) << ": got " << describe(got[i])
                    << ", want " << describe(want);
            }
        }
        EXPECT_EQ(covered.size(), t.columns.size()) << t.name << ": the fixture leaves columns unchecked";
    }
}

TEST_F(ValuesAgent, StringsAreTheBytesBeforeTheirNulWithinTheirRoom) {
    const TableDef &xif = table("qvXIfTable");
    const TableDef &asso = table("qvAssociationTable");
    struct Case {
        Oid name;
        std::string want;
    } cases[] = {
        /* Full rooms: 16 + NUL and 34 + NUL. */
        {instance_oid(xif, 1, {7}), "wlan0.vap-guest1"},
        {instance_oid(xif, 2, {7}), "Corporate-Network-5GHz-Floor2-East"},
        /* Empty: NUL in the first byte. */
        {instance_oid(xif, 1, {2}), ""},
        {instance_oid(xif, 2, {2}), ""},
        /* No NUL anywhere in the 17-byte room: the whole room, nothing of
         * the SSID behind it. */
        {instance_oid(xif, 1, {5}), qv_test::bytes_from_hex("0102037f80fe41424344454647484950ff")},
        /* Non-printable and non-ASCII bytes pass unchanged; the NUL ends it. */
        {instance_oid(xif, 2, {5}), qv_test::bytes_from_hex("e29c93091b41")},
        /* Association strings: empty ones in the row with first index 1. */
        {instance_oid(asso, 3, parse_oid("1.6.0.17.34.51.68.85")), ""},
        {instance_oid(asso, 10, parse_oid("1.6.0.17.34.51.68.85")), ""},
        {instance_oid(asso, 15, parse_oid("1.6.0.17.34.51.68.85")), ""},
    };
    for (const auto &c : cases) {
        VarBind vb = client().get_one(c.name);
        EXPECT_EQ(vb.type, ASN_OCTET_STR) << describe(vb);
        EXPECT_EQ(qv_test::hex_of(vb.octets), qv_test::hex_of(c.want)) << to_string(c.name);
    }
    /* Rooms of 36 and 164 bytes hold 35 and 163 bytes before the NUL. */
    const Oid full = parse_oid("3.6.0.17.34.51.68.85");
    EXPECT_EQ(client().get_one(instance_oid(asso, 3, full)).octets.size(), 35u);
    EXPECT_EQ(client().get_one(instance_oid(asso, 10, full)).octets.size(), 35u);
    EXPECT_EQ(client().get_one(instance_oid(asso, 15, full)).octets.size(), 163u);
}

TEST_F(ValuesAgent, NumbersKeepAllTheirBits) {
    struct IntCase {
        const char *oid;
        long want;
    } ints[] = {
        {"1.3.6.1.4.1.32473.1.1.1.2.1.1.1.3.7", -1},        /* qvIfPromiscuous */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.1.1.4.7", INT32_MIN}, /* qvIfType */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.1.1.5.7", INT32_MAX}, /* qvIfMode */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.1.1.6.2", -7},        /* qvIfConfMode */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.2.1.4.3.6.0.17.34.51.68.85", -1}, /* qvClientRSSI, all ones */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.2.1.12.3.6.0.17.34.51.68.85", -5}, /* qvClientUserProfId */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.2.1.29.3.6.0.17.34.51.68.85", 433}, /* qvClientLastRxRate */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.5.1.2.0", -3},          /* qvRadioTxPower */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.5.1.3.0", INT32_MIN},   /* qvRadioNoiseFloor */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.5.1.3.2", -95},
    };
    for (const auto &c : ints) {
        VarBind vb = get(c.oid);
        EXPECT_EQ(vb.type, ASN_INTEGER) << c.oid;
        EXPECT_EQ(vb.integer, c.want) << c.oid;
    }
    struct CounterCase {
        const char *oid;
        uint32_t want;
    } counters[] = {
        {"1.3.6.1.4.1.32473.1.1.1.2.1.2.1.5.3.6.0.17.34.51.68.85", 4294967295u},  /* qvClientLinkUptime */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.2.1.16.3.6.0.17.34.51.68.85", 0u},          /* qvClientRxDataFrames */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.3.1.5.1", 4294967295u},  /* qvRadioTxNonBeaconMgtFrames */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.3.1.7.1", 0u},           /* qvRadioTxTotalRetries */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.4.1.5.3", 4294967295u},  /* qvVIfRxErrorFrames */
        {"1.3.6.1.4.1.32473.1.1.1.2.1.4.1.11.3", 0u},          /* qvVIfTxErrorFrames */
    };
    for (const auto &c : counters) {
        VarBind vb = get(c.oid);
        EXPECT_EQ(vb.type, ASN_COUNTER) << c.oid;
        EXPECT_EQ(vb.unsigned32, c.want) << c.oid;
    }
}

TEST_F(ValuesAgent, AddressesAreSixAndFourOctetsAsStored) {
    const TableDef &asso = table("qvAssociationTable");
    const Oid raw_ip_row = parse_oid("1.6.0.17.34.51.68.85"); /* bytes c0 a8 01 0a at offset 12 */
    VarBind ip = client().get_one(instance_oid(asso, 2, raw_ip_row));
    EXPECT_EQ(ip.type, ASN_IPADDRESS);
    EXPECT_EQ(qv_test::hex_of(ip.octets), "c0a8010a");

    VarBind bssid = client().get_one(instance_oid(asso, 37, raw_ip_row));
    EXPECT_EQ(bssid.type, ASN_OCTET_STR);
    EXPECT_EQ(qv_test::hex_of(bssid.octets), "000000000000");

    const Oid zero_mac_row = parse_oid("3.6.0.0.0.0.0.0");
    VarBind mac = client().get_one(instance_oid(asso, 1, zero_mac_row));
    EXPECT_EQ(mac.type, ASN_OCTET_STR);
    EXPECT_EQ(qv_test::hex_of(mac.octets), "000000000000");
    VarBind zero_ip = client().get_one(instance_oid(asso, 2, zero_mac_row));
    EXPECT_EQ(zero_ip.type, ASN_IPADDRESS);
    EXPECT_EQ(qv_test::hex_of(zero_ip.octets), "00000000");
}

/* Pairs of rows with the same fields, one over a zero fill and one over
 * 0xff fill with junk written after every string's NUL and into every byte
 * no column reads: every column answers the same. */
TEST_F(ValuesAgent, JunkInUnreadBytesChangesNoAnswer) {
    struct Twins {
        const char *table;
        Oid clean, junk;
    } twins[] = {
        {"qvXIfTable", {11}, {0}},
        {"qvAssociationTable", parse_oid("2.6.255.238.221.204.187.170"), parse_oid("4.6.255.238.221.204.187.170")},
        {"qvRadioStatsTable", {1}, {0}},
        {"qvRadioAttributeTable", {2}, {1}},
    };
    for (const auto &tw : twins) {
        const TableDef &t = table(tw.table);
        std::vector<VarBind> clean = get_all_columns(t, tw.clean);
        std::vector<VarBind> junk = get_all_columns(t, tw.junk);
        ASSERT_EQ(clean.size(), t.columns.size());
        ASSERT_EQ(junk.size(), t.columns.size());
        for (size_t i = 0; i < clean.size(); ++i) {
            EXPECT_NE(clean[i].type, SNMP_NOSUCHINSTANCE) << describe(clean[i]);
            EXPECT_TRUE(same_value(clean[i], junk[i])) << describe(clean[i]) << " vs " << describe(junk[i]);
        }
    }
}

/* The association index is the first index, then the MAC as a 6-octet
 * string with its length; the other tables' index is the cursor itself. */
TEST_F(ValuesAgent, InstanceOidsFollowTheIndexRules) {
    VarBind ssid = get("1.3.6.1.4.1.32473.1.1.1.2.1.2.1.10.3.6.0.17.34.51.68.85");
    EXPECT_EQ(ssid.type, ASN_OCTET_STR);
    EXPECT_EQ(ssid.octets, entry(table("qvAssociationTable"), parse_oid("3.6.0.17.34.51.68.85")).at("qvClientSSID"));

    /* The first association instance is the one with the smallest first
     * index, although the file lists it second. */
    qv_test::Response r = client().get_next({parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1.2.1.1")});
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.vbs.size(), 1u);
    EXPECT_EQ(to_string(r.vbs[0].name), ".1.3.6.1.4.1.32473.1.1.1.2.1.2.1.1.1.6.0.17.34.51.68.85");
    EXPECT_EQ(qv_test::hex_of(r.vbs[0].octets), "001122334455");

    /* Under one first index the MACs sort octet by octet: 00:00:... first. */
    r = client().get_next({parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1.2.1.10.3")});
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.vbs.size(), 1u);
    EXPECT_EQ(to_string(r.vbs[0].name), ".1.3.6.1.4.1.32473.1.1.1.2.1.2.1.10.3.6.0.0.0.0.0.0");
    r = client().get_next({r.vbs[0].name});
    ASSERT_EQ(r.vbs.size(), 1u);
    EXPECT_EQ(to_string(r.vbs[0].name), ".1.3.6.1.4.1.32473.1.1.1.2.1.2.1.10.3.6.0.17.34.51.68.85");

    /* Cursor 0 is index 0, no offset added. */
    VarBind name = get("1.3.6.1.4.1.32473.1.1.1.2.1.1.1.1.0");
    EXPECT_EQ(name.type, ASN_OCTET_STR);
    EXPECT_EQ(name.octets, "ath1");
    VarBind channel = get("1.3.6.1.4.1.32473.1.1.1.2.1.5.1.1.0");
    EXPECT_EQ(channel.type, ASN_INTEGER);
    EXPECT_EQ(channel.integer, 1);
    EXPECT_EQ(get("1.3.6.1.4.1.32473.1.1.1.2.1.3.1.22.0").type, ASN_COUNTER);
    EXPECT_EQ(get("1.3.6.1.4.1.32473.1.1.1.2.1.3.1.22.1").type, ASN_COUNTER);
}

/* Every instance the fixture defines, in SNMP order. */
std::vector<Oid> expected_instances(const json &doc) {
    std::vector<Oid> out;
    for (const auto &t : tables())
        for (const auto &e : doc.at(t.json_key))
            for (const auto &c : t.columns) out.push_back(instance_oid(t, c.number, entry_index(t, e)));
    std::sort(out.begin(), out.end(), qv_test::oid_less);
    return out;
}

/* The fixture lists every table's rows out of index order; a GETNEXT walk
 * still visits every instance exactly once, in increasing OID order, and
 * each value equals what a GET of that instance answers. */
TEST_F(ValuesAgent, GetNextWalksEveryInstanceInOidOrder) {
    bool complete = false;
    std::vector<VarBind> walked = client().walk(subtree(), &complete);
    ASSERT_TRUE(complete) << "walk stopped after " << walked.size() << " instances";

    std::vector<Oid> names;
    for (const auto &vb : walked) names.push_back(vb.name);
    const std::vector<Oid> want = expected_instances(doc());
    ASSERT_EQ(names.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(to_string(names[i]), to_string(want[i])) << "at " << i;

    for (size_t i = 0; i < walked.size(); i += 25) {
        std::vector<Oid> batch(names.begin() + i, names.begin() + std::min(i + 25, names.size()));
        qv_test::Response r = client().get(batch);
        ASSERT_TRUE(r.ok());
        ASSERT_EQ(r.vbs.size(), batch.size());
        for (size_t k = 0; k < batch.size(); ++k)
            EXPECT_TRUE(same_value(r.vbs[k], walked[i + k])) << describe(r.vbs[k]) << " vs " << describe(walked[i + k]);
    }
}

TEST_F(ValuesAgent, GetBulkAnswersWhatTheWalkAnswers) {
    bool complete = false;
    std::vector<VarBind> walked = client().walk(subtree(), &complete);
    ASSERT_TRUE(complete);
    for (long max_repetitions : {1L, 7L, 60L}) {
        std::vector<VarBind> bulk = client().bulk_walk(subtree(), max_repetitions, &complete);
        ASSERT_TRUE(complete) << "max-repetitions " << max_repetitions;
        ASSERT_EQ(bulk.size(), walked.size()) << "max-repetitions " << max_repetitions;
        for (size_t i = 0; i < bulk.size(); ++i) {
            EXPECT_EQ(bulk[i].name, walked[i].name) << "max-repetitions " << max_repetitions << " at " << i;
            EXPECT_TRUE(same_value(bulk[i], walked[i])) << describe(bulk[i]) << " vs " << describe(walked[i]);
        }
    }

    /* One non-repeater and two repeaters in different tables: the
     * non-repeater is one GETNEXT, each repeater a column-wise walk. */
    const TableDef &xif = table("qvXIfTable");
    const TableDef &asso = table("qvAssociationTable");
    const TableDef &attr = table("qvRadioAttributeTable");
    qv_test::Response r = client().get_bulk({column_oid(attr, 3), column_oid(xif, 2), column_oid(asso, 37)}, 1, 3);
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.vbs.size(), 1u + 2u * 3u);
    auto next_of = [&](const Oid &n) {
        qv_test::Response x = client().get_next({n});
        return x.vbs.empty() ? VarBind{} : x.vbs[0];
    };
    EXPECT_EQ(to_string(r.vbs[0].name), to_string(next_of(column_oid(attr, 3)).name));
    Oid a = column_oid(xif, 2), b = column_oid(asso, 37);
    for (size_t rep = 0; rep < 3; ++rep) {
        VarBind na = next_of(a), nb = next_of(b);
        EXPECT_EQ(to_string(r.vbs[1 + 2 * rep].name), to_string(na.name));
        EXPECT_TRUE(same_value(r.vbs[1 + 2 * rep], na));
        EXPECT_EQ(to_string(r.vbs[2 + 2 * rep].name), to_string(nb.name));
        EXPECT_TRUE(same_value(r.vbs[2 + 2 * rep], nb));
        a = na.name;
        b = nb.name;
    }
}

TEST_F(ValuesAgent, MissingRowsAreNoSuchInstance) {
    /* Between two answered requests of one PDU. */
    qv_test::Response r = client().get({parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1.1.1.1.7"),
                                        parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1.1.1.1.8"),
                                        parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1.5.1.3.2")});
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.vbs.size(), 3u);
    EXPECT_EQ(r.vbs[0].octets, "wlan0.vap-guest1");
    EXPECT_EQ(r.vbs[1].type, SNMP_NOSUCHINSTANCE);
    EXPECT_EQ(r.vbs[2].integer, -95);

    const char *missing[] = {
        "1.3.6.1.4.1.32473.1.1.1.2.1.1.1.6.1",
        "1.3.6.1.4.1.32473.1.1.1.2.1.2.1.10.3.6.0.17.34.51.68.86", /* known first index, other MAC */
        "1.3.6.1.4.1.32473.1.1.1.2.1.2.1.10.5.6.0.17.34.51.68.85", /* known MAC, other first index */
        "1.3.6.1.4.1.32473.1.1.1.2.1.2.1.1.0.6.0.0.0.0.0.0",
        "1.3.6.1.4.1.32473.1.1.1.2.1.3.1.1.2",
        "1.3.6.1.4.1.32473.1.1.1.2.1.4.1.18.0",
        "1.3.6.1.4.1.32473.1.1.1.2.1.5.1.1.3",
    };
    for (const char *m : missing) EXPECT_EQ(get(m).type, SNMP_NOSUCHINSTANCE) << m;
}

/* Column 0 and N + 1 are outside the registered range: the agent answers
 * them without calling the module (no "unknown column" line, see TearDown). */
TEST_F(ValuesAgent, ColumnsOutsideTheRegisteredRangeDoNotReachTheModule) {
    struct Case {
        const char *table;
        Oid index;
    } cases[] = {{"qvXIfTable", {7}},
                 {"qvAssociationTable", parse_oid("3.6.0.17.34.51.68.85")},
                 {"qvRadioStatsTable", {1}},
                 {"qvVIfStatsTable", {3}},
                 {"qvRadioAttributeTable", {2}}};
    for (const auto &c : cases) {
        const TableDef &t = table(c.table);
        for (unsigned column : {0u, static_cast<unsigned>(t.columns.size() + 1)}) {
            VarBind vb = client().get_one(instance_oid(t, column, c.index));
            EXPECT_TRUE(vb.type == SNMP_NOSUCHOBJECT || vb.type == SNMP_NOSUCHINSTANCE)
                << c.table << " column " << column << ": " << describe(vb);
        }
    }
}

/* A SET of any column, with a value of the column's own type, is refused by
 * the agent (the tables are registered read-only) and changes nothing. The
 * community is a read-write one, so the refusal is the registration's. */
TEST_F(ValuesAgent, SetIsRefusedForEveryColumnAndChangesNothing) {
    qv_test::SnmpClient writer(agent()->peer(), "private");
    ASSERT_TRUE(writer.is_open());
    struct Row {
        const char *table;
        Oid index;
    } rows[] = {{"qvXIfTable", {7}},
                {"qvAssociationTable", parse_oid("3.6.0.17.34.51.68.85")},
                {"qvRadioStatsTable", {1}},
                {"qvVIfStatsTable", {3}},
                {"qvRadioAttributeTable", {2}}};
    const std::set<long> refusals = {SNMP_ERR_NOACCESS, SNMP_ERR_NOTWRITABLE, SNMP_ERR_NOCREATION};
    for (const auto &row : rows) {
        const TableDef &t = table(row.table);
        const std::vector<VarBind> before = get_all_columns(t, row.index);
        for (const auto &c : t.columns) {
            qv_test::SetValue v{asn_type(c.kind), 42, ""};
            if (c.kind == Kind::String) v.octets = "changed";
            if (c.kind == Kind::Mac) v.octets = qv_test::bytes_from_hex("0a0b0c0d0e0f");
            if (c.kind == Kind::IpAddress) v.octets = qv_test::bytes_from_hex("0a000001");
            qv_test::Response r = writer.set(instance_oid(t, c.number, row.index), v);
            ASSERT_EQ(r.status, STAT_SUCCESS) << t.name << "." << c.name;
            EXPECT_TRUE(refusals.count(r.errstat)) << t.name << "." << c.name << " errstat " << r.errstat;
        }
        /* A row that does not exist cannot be created either. */
        qv_test::Response r = writer.set(instance_oid(t, 1, row.table == std::string("qvAssociationTable")
                                                               ? parse_oid("9.6.1.2.3.4.5.6")
                                                               : Oid{999}),
                                         qv_test::SetValue{asn_type(t.columns[0].kind), 1, "x"});
        ASSERT_EQ(r.status, STAT_SUCCESS);
        EXPECT_TRUE(refusals.count(r.errstat)) << t.name << " new row: errstat " << r.errstat;

        const std::vector<VarBind> after = get_all_columns(t, row.index);
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i)
            EXPECT_TRUE(same_value(before[i], after[i])) << describe(before[i]) << " became " << describe(after[i]);
    }
    EXPECT_EQ(count_occurrences(agent()->log(), "unsupported mode"), 0u);
}

} // namespace
} // namespace qv_e2e
