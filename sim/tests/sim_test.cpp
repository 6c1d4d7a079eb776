// The simulated data source, in process: description parsing, record bytes,
// cursors, reloading, the reference-release contract, counters over time and
// generated access points. Rows are fetched the way the module fetches them:
// malloc'd blocks [count][record][cursor], the cursor copied into the next
// block before the previous one is released.
#include "qv_wlan_sim.h"

#include <gtest/gtest.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// ---- the agent log, captured through Net-SNMP's callback log handler ----

std::vector<std::pair<int, std::string>> g_log;

int capture_log(int, int, void *serverarg, void *) {
    auto *m = static_cast<snmp_log_message *>(serverarg);
    g_log.emplace_back(m->priority, m->msg ? m->msg : "");
    return 0;
}

std::vector<std::string> errors_logged() {
    std::vector<std::string> out;
    for (auto &[priority, text] : g_log)
        if (priority == LOG_ERR) out.push_back(text);
    return out;
}

// ---- time ----

uint64_t g_now_us = 1000000;
uint64_t fake_clock() { return g_now_us; }

// ---- fetching rows like the module ----

template <typename R>
struct Kind;
template <>
struct Kind<qv_wlan_if_entry> {
    static int first(uint32_t *c, qv_wlan_if_entry *r) { return qv_wlan_get_first_if(c, r); }
    static int next(uint32_t *c, qv_wlan_if_entry *r) { return qv_wlan_get_next_if(c, r); }
};
template <>
struct Kind<qv_wlan_ass_entry> {
    static int first(uint32_t *c, qv_wlan_ass_entry *r) { return qv_wlan_get_first_ass(c, r, 1); }
    static int next(uint32_t *c, qv_wlan_ass_entry *r) { return qv_wlan_get_next_ass(c, r); }
};
template <>
struct Kind<qv_wlan_radio_statis_entry> {
    static int first(uint32_t *c, qv_wlan_radio_statis_entry *r) { return qv_wlan_get_first_radio_statis_entry(c, r); }
    static int next(uint32_t *c, qv_wlan_radio_statis_entry *r) { return qv_wlan_get_next_radio_statis_entry(c, r); }
};
template <>
struct Kind<qv_wlan_virtual_statis_entry> {
    static int first(uint32_t *c, qv_wlan_virtual_statis_entry *r) { return qv_wlan_get_first_virtual_statis_entry(c, r); }
    static int next(uint32_t *c, qv_wlan_virtual_statis_entry *r) { return qv_wlan_get_next_virtual_statis_entry(c, r); }
};
template <>
struct Kind<qv_wlan_radio_attr_entry> {
    static int first(uint32_t *c, qv_wlan_radio_attr_entry *r) { return qv_wlan_get_first_radio_attr_entry(c, r); }
    static int next(uint32_t *c, qv_wlan_radio_attr_entry *r) { return qv_wlan_get_next_radio_attr_entry(c, r); }
};

template <typename R>
R *new_block() {
    auto *block = static_cast<unsigned char *>(std::malloc(4 + sizeof(R) + 4));
    std::memset(block, 0xEE, 4 + sizeof(R) + 4); // the module does not clear blocks
    return reinterpret_cast<R *>(block + 4);
}
template <typename R>
uint32_t &cursor_of(R *record) {
    return *reinterpret_cast<uint32_t *>(reinterpret_cast<unsigned char *>(record) + sizeof(R));
}
template <typename R>
uint32_t &count_of(R *record) {
    return *reinterpret_cast<uint32_t *>(reinterpret_cast<unsigned char *>(record) - 4);
}
template <typename R>
void free_unfilled(R *record) {
    std::free(reinterpret_cast<unsigned char *>(record) - 4);
}

template <typename R>
R *fetch_first() {
    R *rec = new_block<R>();
    if (Kind<R>::first(&cursor_of(rec), rec) != 0) {
        free_unfilled(rec);
        return nullptr;
    }
    count_of(rec) = 1;
    return rec;
}

// Next row after `previous` (released here, as the walk does).
template <typename R>
R *fetch_next(R *previous) {
    R *rec = new_block<R>();
    cursor_of(rec) = cursor_of(previous);
    qv_free_ref_mem(previous);
    if (Kind<R>::next(&cursor_of(rec), rec) != 0) {
        free_unfilled(rec);
        return nullptr;
    }
    count_of(rec) = 1;
    return rec;
}

template <typename R>
struct Row {
    uint32_t cursor;
    R record;
};

template <typename R>
std::vector<Row<R>> walk(size_t limit = 100000) {
    std::vector<Row<R>> rows;
    for (R *rec = fetch_first<R>(); rec && rows.size() < limit; rec = fetch_next(rec)) {
        rows.push_back({cursor_of(rec), *rec});
        if (rows.size() == limit) qv_free_ref_mem(rec);
    }
    return rows;
}

size_t all_rows() {
    return walk<qv_wlan_if_entry>().size() + walk<qv_wlan_ass_entry>().size() +
           walk<qv_wlan_radio_statis_entry>().size() + walk<qv_wlan_virtual_statis_entry>().size() +
           walk<qv_wlan_radio_attr_entry>().size();
}

qv_sim_stats stats() {
    qv_sim_stats s;
    qv_sim_get_stats(&s);
    return s;
}

// ---- description files ----

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        g_now_us = 1000000;
        qv_sim_set_clock(fake_clock);
        unsetenv("QV_SIM_CONFIG");
        unsetenv("QV_SIM_GENERATE");
        qv_sim_reset();
        char tmpl[] = "/tmp/qv-sim-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        EXPECT_EQ(stats().live_blocks, 0u) << "a test left blocks behind";
        qv_sim_reset();
        qv_sim_set_clock(nullptr);
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    // Writes through a new inode and rename, the way editors and fixtures
    // replace a file, so a change is never hidden by an equal size and mtime.
    std::string write(const std::string &name, const std::string &text) {
        std::string path = dir_ + "/" + name;
        std::string tmp = path + ".tmp";
        std::ofstream(tmp, std::ios::binary) << text;
        EXPECT_EQ(std::rename(tmp.c_str(), path.c_str()), 0);
        return path;
    }
    std::string dir_;
};

// ---- every field kind lands at its offset ----

TEST_F(SimTest, EveryColumnKindIsStoredAtItsOffsetInHostOrder) {
    ASSERT_EQ(qv_sim_load_json(R"({
      "associations": [{
        "cursor": 7, "first_index": 3,
        "qvClientMac": "00:11:22:aa:BB:cc", "qvClientIP": "192.168.1.10",
        "qvClientHostname": "laptop", "qvClientRSSI": -61,
        "qvClientLinkUptime": 4294967295, "qvClientVLAN": 2147483647, "qvClientChannel": -2147483648,
        "qvClientUsername": "u", "qvClientBSSID": "ff:ee:dd:cc:bb:aa",
        "qvClientLastRxRate": 433, "qvClientTxVoDataFrames": 12
      }],
      "interfaces": [{"qvIfName": "0123456789abcdef", "qvSSIDName": "0123456789012345678901234567890123",
                      "qvIfPromiscuous": 1, "qvIfType": -2, "qvIfMode": 3, "qvIfConfMode": 4}],
      "radio_stats": [{"qvRadioTxUnicastDataFrames": 28, "qvRadioRxAirtime": 88}],
      "vif_stats": [{"qvVIfRxErrorFrames": 4, "qvVIfTxAirtime": 64}],
      "radio_attributes": [{"qvRadioChannel": 36, "qvRadioTxPower": 23, "qvRadioNoiseFloor": -92}]
    })", "kinds.json"), 0) << qv_sim_last_error();

    auto ass = walk<qv_wlan_ass_entry>();
    ASSERT_EQ(ass.size(), 1u);
    const qv_wlan_ass_entry &a = ass[0].record;
    EXPECT_EQ(ass[0].cursor, 7u);
    EXPECT_EQ(a.first_index, 3);
    const unsigned char mac[6] = {0x00, 0x11, 0x22, 0xaa, 0xbb, 0xcc};
    EXPECT_EQ(std::memcmp(a.qvClientMac, mac, 6), 0);
    const unsigned char ip[4] = {192, 168, 1, 10}; // network order in the record
    EXPECT_EQ(std::memcmp(a.qvClientIP, ip, 4), 0);
    EXPECT_STREQ(a.qvClientHostname, "laptop");
    EXPECT_EQ(a.qvClientRSSI, -61);
    EXPECT_EQ(a.qvClientLinkUptime, 4294967295u);
    EXPECT_EQ(a.qvClientVLAN, 2147483647);
    EXPECT_EQ(a.qvClientChannel, INT32_MIN);
    EXPECT_STREQ(a.qvClientUsername, "u");
    const unsigned char bssid[6] = {0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa};
    EXPECT_EQ(std::memcmp(a.qvClientBSSID, bssid, 6), 0);
    EXPECT_EQ(a.qvClientLastRxRate, 433);
    EXPECT_EQ(a.qvClientTxVoDataFrames, 12u);
    EXPECT_EQ(a.qvClientTxDataFrames, 0u); // unset columns are 0 without "fill"

    auto ifs = walk<qv_wlan_if_entry>();
    ASSERT_EQ(ifs.size(), 1u);
    EXPECT_EQ(ifs[0].cursor, 0u); // default cursor: position in the list
    EXPECT_STREQ(ifs[0].record.qvIfName, "0123456789abcdef");                     // 16 bytes + NUL
    EXPECT_STREQ(ifs[0].record.qvSSIDName, "0123456789012345678901234567890123"); // 34 bytes + NUL, offset 17
    EXPECT_EQ(ifs[0].record.qvIfType, -2);
    EXPECT_EQ(ifs[0].record.qvIfConfMode, 4);

    auto rs = walk<qv_wlan_radio_statis_entry>();
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].record.qvRadioTxUnicastDataFrames, 28u);
    EXPECT_EQ(rs[0].record.qvRadioRxAirtime, 88u);
    auto vs = walk<qv_wlan_virtual_statis_entry>();
    ASSERT_EQ(vs.size(), 1u);
    EXPECT_EQ(vs[0].record.qvVIfRxErrorFrames, 4u);
    EXPECT_EQ(vs[0].record.qvVIfTxAirtime, 64u);
    auto ra = walk<qv_wlan_radio_attr_entry>();
    ASSERT_EQ(ra.size(), 1u);
    EXPECT_EQ(ra[0].record.qvRadioNoiseFloor, -92);
    EXPECT_TRUE(errors_logged().empty());
}

TEST_F(SimTest, FillPatternLiesUnderFieldsAndRawBytesGoOverThem) {
    ASSERT_EQ(qv_sim_load_json(R"({
      "radio_attributes": [{"qvRadioChannel": 6, "fill": "a5b6"}],
      "interfaces": [{"qvIfName": "ath0", "qvSSIDName": "x",
                      "raw": [{"offset": 0, "hex": "4142434445464748494a4b4c4d4e4f5051"},
                              {"offset": 17, "hex": "ff00"}]}]
    })", "fill.json"), 0) << qv_sim_last_error();

    auto ra = walk<qv_wlan_radio_attr_entry>();
    ASSERT_EQ(ra.size(), 1u);
    EXPECT_EQ(ra[0].record.qvRadioChannel, 6);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&ra[0].record);
    for (size_t i = 4; i < sizeof(qv_wlan_radio_attr_entry); ++i)
        EXPECT_EQ(bytes[i], i % 2 == 0 ? 0xa5 : 0xb6) << "byte " << i;

    auto ifs = walk<qv_wlan_if_entry>();
    ASSERT_EQ(ifs.size(), 1u);
    // The whole 17-byte name room holds letters: a name with no NUL.
    EXPECT_EQ(std::memcmp(ifs[0].record.qvIfName, "ABCDEFGHIJKLMNOPQ", 17), 0);
    EXPECT_EQ(static_cast<unsigned char>(ifs[0].record.qvSSIDName[0]), 0xff);
    EXPECT_EQ(ifs[0].record.qvSSIDName[1], '\0');
}

// ---- errors: one log line naming the file and the problem, tables empty ----

struct BadCase {
    const char *json;
    const char *expect; // in the log line, after the file name
};

TEST_F(SimTest, EachKindOfBadDescriptionIsOneLogLineAndEmptiesEveryTable) {
    const BadCase cases[] = {
        {"{\n  \"interfaces\": [\n    {\"qvIfName\" \"x\"}\n  ]\n}", "line 3, column 19: syntax error while parsing object separator"},
        {"{\"interfaces\": [}", "line 1, column 17: syntax error"},
        {"", "line 1, column 1: syntax error"},
        {"[]", "must be a JSON object"},
        {R"({"clients": []})", "unknown key 'clients' at top level"},
        {R"({"interfaces": {}})", "interfaces: expected an array"},
        {R"({"interfaces": [3]})", "interfaces[0]: expected an object"},
        {R"({"interfaces": [{"qvClientRSSI": 1}]})", "interfaces[0]: unknown key 'qvClientRSSI'"},
        {R"({"interfaces": [{"first_index": 1}]})", "interfaces[0]: unknown key 'first_index'"},
        {R"({"interfaces": [{"qvIfName": 5}]})", "interfaces[0].qvIfName: expected a string"},
        {R"({"interfaces": [{"qvIfName": "0123456789abcdefg"}]})", "interfaces[0].qvIfName: string of 17 bytes"},
        {R"({"interfaces": [{"qvIfType": 2147483648}]})", "interfaces[0].qvIfType: value 2147483648 out of range"},
        {R"({"interfaces": [{"qvIfType": 1.5}]})", "interfaces[0].qvIfType: expected an integer"},
        {R"({"interfaces": [{"qvIfType": true}]})", "interfaces[0].qvIfType: expected an integer"},
        {R"({"vif_stats": [{"qvVIfTxAirtime": -1}]})", "vif_stats[0].qvVIfTxAirtime: value -1 out of range 0..4294967295"},
        {R"({"vif_stats": [{"qvVIfTxAirtime": 4294967296}]})", "value 4294967296 out of range"},
        {R"({"associations": [{"qvClientMac": "00:11:22:33:44"}]})", "associations[0].qvClientMac: expected a MAC"},
        {R"({"associations": [{"qvClientMac": "00-11-22-33-44-55"}]})", "expected a MAC"},
        {R"({"associations": [{"qvClientIP": "192.168.1.300"}]})", "associations[0].qvClientIP: expected an IPv4"},
        {R"({"associations": [{"first_index": "3"}]})", "associations[0].first_index: expected an integer"},
        {R"({"radio_attributes": [{"cursor": -1}]})", "radio_attributes[0].cursor: value -1 out of range"},
        {R"({"radio_attributes": [{"cursor": 4}, {"cursor": 4}]})", "radio_attributes[1].cursor: duplicate cursor 4"},
        {R"({"radio_attributes": [{}, {"cursor": 0}]})", "duplicate cursor 0 (also radio_attributes[0])"},
        {R"({"radio_attributes": [{"fill": "abc"}]})", "radio_attributes[0].fill: expected a non-empty string of hex"},
        {R"({"radio_attributes": [{"fill": "zz"}]})", "fill: expected a non-empty string of hex"},
        {R"({"radio_attributes": [{"raw": [{"offset": 22, "hex": "010203"}]}]})",
         "radio_attributes[0].raw[0]: bytes 22..24 lie beyond the 24-byte record"},
        {R"({"radio_attributes": [{"raw": [{"offset": 0}]}]})", "raw[0]: needs both"},
        {R"({"radio_attributes": [{"raw": [{"offset": 0, "hex": "00", "x": 1}]}]})", "raw[0]: unknown key 'x'"},
        {R"({"radio_attributes": [{"rates": {"qvRadioChannel": 1}}]})",
         "radio_attributes[0].rates.qvRadioChannel: not a Counter32 column"},
        {R"({"associations": [{"rates": {"qvClientRSSI": 1}}]})", "rates.qvClientRSSI: not a Counter32 column"},
        {R"({"vif_stats": [{"rates": {"qvVIfTxAirtime": -2}}]})", "rates.qvVIfTxAirtime: expected a number"},
        {R"({"generate": {"clients": 3, "aps": 1}})", "generate: unknown key 'aps'"},
        {R"({"generate": {"radios": 70000}})", "at most 1000000 vifs and 65536 radios"},
    };
    for (const BadCase &c : cases) {
        SCOPED_TRACE(c.json);
        ASSERT_EQ(qv_sim_load_json(R"({"radio_attributes": [{"qvRadioChannel": 1}]})", "good.json"), 0);
        g_log.clear();
        std::string path = write("bad.json", c.json);
        EXPECT_EQ(qv_sim_load_file(path.c_str()), -1);
        auto lines = errors_logged();
        ASSERT_EQ(lines.size(), 1u);
        const std::string &line = lines[0];
        EXPECT_EQ(line.rfind("qv_wlan_sim: " + path + ": ", 0), 0u) << line;
        EXPECT_NE(line.find(c.expect), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line: " << line;
        EXPECT_NE(line.find("all tables are empty"), std::string::npos);
        EXPECT_EQ(all_rows(), 0u);
        EXPECT_EQ(errors_logged().size(), 1u) << "walking the empty tables logs nothing more";
    }
}

TEST_F(SimTest, MissingFileIsReportedOnceAndLoadedWhenItAppears) {
    std::string path = dir_ + "/later.json";
    setenv("QV_SIM_CONFIG", path.c_str(), 1);
    qv_sim_reset();
    EXPECT_EQ(all_rows(), 0u);
    EXPECT_EQ(all_rows(), 0u);
    auto lines = errors_logged();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(path + ": cannot read the description: No such file or directory"), std::string::npos)
        << lines[0];

    write("later.json", R"({"vif_stats": [{"cursor": 5}]})");
    auto vs = walk<qv_wlan_virtual_statis_entry>();
    ASSERT_EQ(vs.size(), 1u);
    EXPECT_EQ(vs[0].cursor, 5u);
    EXPECT_EQ(errors_logged().size(), 1u);
}

// ---- cursors ----

TEST_F(SimTest, UnsortedCursorsAreWalkedInListOrderFromTheCursorValueAlone) {
    ASSERT_EQ(qv_sim_load_json(R"({"interfaces": [
        {"cursor": 7, "qvIfName": "a"}, {"cursor": 3, "qvIfName": "b"},
        {"cursor": 4294967295, "qvIfName": "c"}, {"cursor": 0, "qvIfName": "d"}]})", "cursors.json"), 0);
    auto rows = walk<qv_wlan_if_entry>();
    ASSERT_EQ(rows.size(), 4u);
    const uint32_t cursors[] = {7, 3, 4294967295u, 0};
    const char *names[] = {"a", "b", "c", "d"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i].cursor, cursors[i]);
        EXPECT_STREQ(rows[i].record.qvIfName, names[i]);
    }

    // The next function needs only the cursor value: a fresh block holding a
    // copied cursor continues from that entry.
    qv_wlan_if_entry *rec = new_block<qv_wlan_if_entry>();
    cursor_of(rec) = 3;
    ASSERT_EQ(qv_wlan_get_next_if(&cursor_of(rec), rec), 0);
    EXPECT_EQ(cursor_of(rec), 4294967295u);
    EXPECT_STREQ(rec->qvIfName, "c");
    count_of(rec) = 1;
    qv_free_ref_mem(rec);

    // Unknown cursor, or the last one: no entry, and the record is untouched.
    for (uint32_t c : {8u, 0u}) {
        qv_wlan_if_entry *r = new_block<qv_wlan_if_entry>();
        cursor_of(r) = c;
        EXPECT_NE(qv_wlan_get_next_if(&cursor_of(r), r), 0);
        EXPECT_EQ(cursor_of(r), c);
        EXPECT_EQ(static_cast<unsigned char>(r->qvIfName[0]), 0xEE);
        free_unfilled(r);
    }
}

// ---- re-reading on change ----

TEST_F(SimTest, DescriptionFileIsReReadOnTheFirstCallAfterItChanges) {
    std::string path = write("ap.json", R"({"radio_attributes": [{"qvRadioChannel": 6}]})");
    ASSERT_EQ(qv_sim_load_file(path.c_str()), 0);
    qv_sim_reset_stats();

    for (int i = 0; i < 3; ++i) EXPECT_EQ(walk<qv_wlan_radio_attr_entry>().at(0).record.qvRadioChannel, 6);
    EXPECT_EQ(stats().config_loads, 0u) << "an unchanged file is not read again";

    write("ap.json", R"({"radio_attributes": [{"qvRadioChannel": 11}, {"qvRadioChannel": 149}]})");
    auto rows = walk<qv_wlan_radio_attr_entry>();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].record.qvRadioChannel, 149);
    EXPECT_EQ(stats().config_loads, 1u);

    // Broken on disk: one message, empty tables, however often it is walked.
    write("ap.json", R"({"radio_attributes": [{"qvRadioChannel": 11},]})");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(walk<qv_wlan_radio_attr_entry>().size(), 0u);
    EXPECT_EQ(errors_logged().size(), 1u);
    EXPECT_EQ(stats().config_errors, 1u);

    write("ap.json", R"({"radio_attributes": [{"qvRadioChannel": 1}]})");
    EXPECT_EQ(walk<qv_wlan_radio_attr_entry>().at(0).record.qvRadioChannel, 1);
    EXPECT_EQ(stats().config_loads, 2u);
}

// ---- choosing the description ----

TEST_F(SimTest, DescriptionComesFromQvSimConfigThenQvSimGenerateThenTheDemo) {
    std::string path = write("env.json", R"({"interfaces": [{"qvIfName": "fromfile"}]})");
    setenv("QV_SIM_CONFIG", path.c_str(), 1);
    setenv("QV_SIM_GENERATE", "clients=5,vifs=2,radios=1", 1);
    qv_sim_reset();
    auto ifs = walk<qv_wlan_if_entry>();
    ASSERT_EQ(ifs.size(), 1u);
    EXPECT_STREQ(ifs[0].record.qvIfName, "fromfile");

    unsetenv("QV_SIM_CONFIG");
    qv_sim_reset();
    EXPECT_EQ(walk<qv_wlan_ass_entry>().size(), 5u);
    EXPECT_EQ(walk<qv_wlan_if_entry>().size(), 2u);
    EXPECT_EQ(walk<qv_wlan_radio_attr_entry>().size(), 1u);

    setenv("QV_SIM_GENERATE", "clients=5,aps=2", 1);
    qv_sim_reset();
    EXPECT_EQ(all_rows(), 0u);
    auto lines = errors_logged();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("QV_SIM_GENERATE: generate: unknown key 'aps'"), std::string::npos) << lines[0];

    unsetenv("QV_SIM_GENERATE");
    qv_sim_reset();
    EXPECT_EQ(walk<qv_wlan_radio_attr_entry>().size(), 2u); // the demo's two radios
}

// ---- qv_free_ref_mem ----

TEST_F(SimTest, ReleaseFreesAtZeroAndCountsLiveBlocks) {
    ASSERT_EQ(qv_sim_load_json(R"({"radio_attributes": [{}, {}, {}]})", "three.json"), 0);
    qv_sim_reset_stats();

    qv_wlan_radio_attr_entry *first = fetch_first<qv_wlan_radio_attr_entry>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(stats().live_blocks, 1u);
    ++count_of(first); // a request keeps the row: count 2

    qv_wlan_radio_attr_entry *second = fetch_next(first); // the walk lets go: count 1
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(count_of(first), 1u);
    EXPECT_EQ(stats().live_blocks, 2u);

    qv_wlan_radio_attr_entry *third = fetch_next(second); // second freed
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(stats().live_blocks, 2u);
    EXPECT_EQ(fetch_next(third), nullptr); // third freed, the unfilled block too
    EXPECT_EQ(stats().live_blocks, 1u);
    EXPECT_EQ(stats().peak_live_blocks, 2u); // the kept first row plus the current one
    EXPECT_EQ(qv_free_ref_mem(first), 0);    // the request's release frees it
    EXPECT_EQ(stats().live_blocks, 0u);
    EXPECT_EQ(stats().release_errors, 0u);
    EXPECT_TRUE(errors_logged().empty());
}

TEST_F(SimTest, MisusedReleaseIsCountedAndLoggedWithoutTouchingMemory) {
    ASSERT_EQ(qv_sim_load_json(R"({"radio_attributes": [{}]})", "one.json"), 0);
    qv_sim_reset_stats();

    // A block the sim never filled: left alone (its count stays as it was).
    qv_wlan_radio_attr_entry *stranger = new_block<qv_wlan_radio_attr_entry>();
    count_of(stranger) = 1;
    EXPECT_NE(qv_free_ref_mem(stranger), 0);
    EXPECT_EQ(count_of(stranger), 1u);
    free_unfilled(stranger);

    EXPECT_NE(qv_free_ref_mem(nullptr), 0);

    // A live block whose count is already 0: flagged, not freed.
    qv_wlan_radio_attr_entry *row = fetch_first<qv_wlan_radio_attr_entry>();
    ASSERT_NE(row, nullptr);
    count_of(row) = 0;
    EXPECT_NE(qv_free_ref_mem(row), 0);
    EXPECT_EQ(stats().live_blocks, 1u);
    count_of(row) = 1;
    EXPECT_EQ(qv_free_ref_mem(row), 0);

    // Released twice: the second release is of a block no longer live.
    qv_wlan_radio_attr_entry *again = fetch_first<qv_wlan_radio_attr_entry>();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(qv_free_ref_mem(again), 0);
    EXPECT_NE(qv_free_ref_mem(again), 0); // the address is only compared, never read

    EXPECT_EQ(stats().release_errors, 4u);
    auto lines = errors_logged();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("not a live block"), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("reference count is already 0"), std::string::npos) << lines[2];
    EXPECT_EQ(stats().live_blocks, 0u);
}

// ---- counters over time ----

TEST_F(SimTest, CountersAdvanceWithTheClockAndWrapAt2To32) {
    ASSERT_EQ(qv_sim_load_json(R"({"vif_stats": [{
        "qvVIfRxDataFrames": 100, "qvVIfTxDataFrames": 4294967290, "qvVIfRxAirtime": 0, "qvVIfTxAirtime": 7,
        "rates": {"qvVIfRxDataFrames": 10, "qvVIfTxDataFrames": 3, "qvVIfRxAirtime": 0.5}}]})", "rates.json"), 0);

    auto at = [](uint64_t us) {
        g_now_us = 1000000 + us;
        return walk<qv_wlan_virtual_statis_entry>().at(0).record;
    };
    auto r0 = at(0);
    EXPECT_EQ(r0.qvVIfRxDataFrames, 100u);
    EXPECT_EQ(r0.qvVIfTxDataFrames, 4294967290u);

    auto r1 = at(1500000); // 1.5 s
    EXPECT_EQ(r1.qvVIfRxDataFrames, 115u);
    EXPECT_EQ(r1.qvVIfTxDataFrames, 4294967294u);
    EXPECT_EQ(r1.qvVIfRxAirtime, 0u);
    EXPECT_EQ(r1.qvVIfTxAirtime, 7u); // no rate: constant

    auto r2 = at(2000000); // 2 s: 4294967290 + 6 wraps to 0
    EXPECT_EQ(r2.qvVIfTxDataFrames, 0u);
    EXPECT_EQ(r2.qvVIfRxAirtime, 1u);

    auto r3 = at(86400ull * 365 * 1000000); // a year: still exact, mod 2^32
    EXPECT_EQ(r3.qvVIfRxDataFrames, static_cast<uint32_t>(100ull + 10ull * 86400 * 365));
    EXPECT_EQ(r3.qvVIfTxDataFrames, static_cast<uint32_t>(4294967290ull + 3ull * 86400 * 365));

    // A reload starts the counters again from the described values.
    ASSERT_EQ(qv_sim_load_json(R"({"vif_stats": [{"qvVIfRxDataFrames": 5, "rates": {"qvVIfRxDataFrames": 1}}]})", "r.json"), 0);
    EXPECT_EQ(walk<qv_wlan_virtual_statis_entry>().at(0).record.qvVIfRxDataFrames, 5u);
    g_now_us += 3000000;
    EXPECT_EQ(walk<qv_wlan_virtual_statis_entry>().at(0).record.qvVIfRxDataFrames, 8u);
}

// ---- generated access points ----

TEST_F(SimTest, GeneratedAccessPointHasTheRequestedSizesAndDistinctIndexes) {
    ASSERT_EQ(qv_sim_generate(300, 7, 3), 0);
    auto ass = walk<qv_wlan_ass_entry>();
    EXPECT_EQ(ass.size(), 300u);
    std::set<std::pair<int32_t, std::string>> indexes;
    for (auto &row : ass) indexes.emplace(row.record.first_index, std::string(reinterpret_cast<char *>(row.record.qvClientMac), 6));
    EXPECT_EQ(indexes.size(), 300u) << "(first index, MAC) identifies a row";

    auto ifs = walk<qv_wlan_if_entry>();
    EXPECT_EQ(ifs.size(), 7u);
    EXPECT_EQ(walk<qv_wlan_virtual_statis_entry>().size(), 7u);
    EXPECT_EQ(walk<qv_wlan_radio_statis_entry>().size(), 3u);
    auto ra = walk<qv_wlan_radio_attr_entry>();
    ASSERT_EQ(ra.size(), 3u);
    for (size_t i = 0; i < ra.size(); ++i) EXPECT_EQ(ra[i].cursor, i);
    for (auto &row : ifs) EXPECT_LT(std::strlen(row.record.qvIfName), sizeof row.record.qvIfName);

    // Counters move with time.
    uint32_t before = walk<qv_wlan_radio_statis_entry>().at(0).record.qvRadioTxDataFrames;
    g_now_us += 2000000;
    EXPECT_GT(walk<qv_wlan_radio_statis_entry>().at(0).record.qvRadioTxDataFrames, before);

    ASSERT_EQ(qv_sim_generate(0, 0, 0), 0);
    EXPECT_EQ(all_rows(), 0u);
}

TEST_F(SimTest, LargeGeneratedAccessPointContinuesFromAnyCursorDirectly) {
    // Four million clients cost nothing until fetched; each next call finds
    // its entry from the cursor alone.
    ASSERT_EQ(qv_sim_generate(4000000, 16, 4), 0);
    qv_wlan_ass_entry *rec = new_block<qv_wlan_ass_entry>();
    cursor_of(rec) = 3999998;
    ASSERT_EQ(qv_wlan_get_next_ass(&cursor_of(rec), rec), 0);
    EXPECT_EQ(cursor_of(rec), 3999999u);
    const unsigned char mac[6] = {0x02, 0x51, 0x00, 0x3d, 0x08, 0xff}; // 3999999 = 0x3d08ff
    EXPECT_EQ(std::memcmp(rec->qvClientMac, mac, 6), 0);
    count_of(rec) = 1;
    EXPECT_EQ(fetch_next(rec), nullptr);

    // A description's "generate" key, with one table replaced by hand.
    ASSERT_EQ(qv_sim_load_json(R"({"generate": {"clients": 50, "vifs": 2, "radios": 2},
                                   "radio_attributes": [{"cursor": 9, "qvRadioChannel": 165}]})", "gen.json"), 0);
    EXPECT_EQ(walk<qv_wlan_ass_entry>().size(), 50u);
    auto ra = walk<qv_wlan_radio_attr_entry>();
    ASSERT_EQ(ra.size(), 1u);
    EXPECT_EQ(ra[0].record.qvRadioChannel, 165);
}

// ---- the built-in demo ----

TEST_F(SimTest, BuiltInDemoIsAPlausibleTwoRadioAccessPoint) {
    ASSERT_EQ(qv_sim_use_builtin(), 0) << qv_sim_last_error();
    auto ra = walk<qv_wlan_radio_attr_entry>();
    ASSERT_EQ(ra.size(), 2u);
    EXPECT_EQ(ra[0].record.qvRadioChannel, 6);
    EXPECT_EQ(ra[1].record.qvRadioChannel, 36);
    EXPECT_EQ(walk<qv_wlan_radio_statis_entry>().size(), 2u);
    EXPECT_GE(walk<qv_wlan_if_entry>().size(), 4u);
    EXPECT_GE(walk<qv_wlan_virtual_statis_entry>().size(), 3u);

    auto ass = walk<qv_wlan_ass_entry>();
    ASSERT_EQ(ass.size(), 12u);
    std::set<std::string> ssids;
    for (auto &row : ass) {
        const qv_wlan_ass_entry &a = row.record;
        EXPECT_GE(a.qvClientRSSI, -80);
        EXPECT_LE(a.qvClientRSSI, -40);
        EXPECT_EQ(a.qvClientIP[0], 192);
        EXPECT_EQ(a.qvClientIP[1], 168);
        EXPECT_GT(std::strlen(a.qvClientHostname), 0u);
        EXPECT_TRUE(a.qvClientChannel == 6 || a.qvClientChannel == 36);
        ssids.insert(a.qvClientSSID);
    }
    EXPECT_GE(ssids.size(), 2u);

    // Counters grow between two walks a few seconds apart.
    uint32_t before = ass[0].record.qvClientRxDataFrames;
    g_now_us += 5000000;
    EXPECT_GT(walk<qv_wlan_ass_entry>().at(0).record.qvClientRxDataFrames, before);
}

} // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Every snmp_log line of the sim reaches capture_log (and nowhere else).
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_DEBUG);
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, capture_log, nullptr);
    return RUN_ALL_TESTS();
}
