// Every column of every table, answered through the real agent: GET, GETNEXT
// and GETBULK PDUs go through the agent's table helper and table iterator to
// the module's callbacks and handler. Records carry a pattern in which every
// 4-byte field holds its own offset, so a column reading the wrong field, with
// the wrong type or length, shows at once. The expected layout below is the
// published record layout, written out independently of the module's code.
#include "unit_common.h"

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>

extern "C" {
const void *get_qvIfName(const void *record, size_t *length);
const void *get_qvSSIDName(const void *record, size_t *length);
const void *get_qvClientHostname(const void *record, size_t *length);
const void *get_qvClientSSID(const void *record, size_t *length);
const void *get_qvClientUsername(const void *record, size_t *length);
}

namespace qvtest {
namespace {

enum class K { Int, Cnt, Str, Mac, Ip };

struct Col {
    unsigned number;
    K kind;
    size_t offset;
    size_t room = 0; /* strings: bytes from the offset to the next field */
};

const std::vector<Col> &columns_of(Table t) {
    static const std::map<Table, std::vector<Col>> all = {
        {Table::XIf,
         {{1, K::Str, 0, 17}, {2, K::Str, 17, 35}, {3, K::Int, 52}, {4, K::Int, 56}, {5, K::Int, 60}, {6, K::Int, 64}}},
        {Table::Ass,
         {{1, K::Mac, 4},      {2, K::Ip, 12},    {3, K::Str, 16, 36}, {4, K::Int, 52},  {5, K::Cnt, 60},
          {6, K::Int, 64},     {7, K::Int, 68},   {8, K::Int, 72},     {9, K::Int, 76},  {10, K::Str, 80, 36},
          {11, K::Int, 116},   {12, K::Int, 120}, {13, K::Int, 124},   {14, K::Int, 128}, {15, K::Str, 136, 164},
          {16, K::Cnt, 320},   {17, K::Cnt, 324}, {18, K::Cnt, 328},   {19, K::Cnt, 336}, {20, K::Cnt, 340},
          {21, K::Cnt, 344},   {22, K::Cnt, 368}, {23, K::Cnt, 396},   {24, K::Cnt, 400}, {25, K::Cnt, 404},
          {26, K::Cnt, 452},   {27, K::Cnt, 456}, {28, K::Cnt, 460},   {29, K::Int, 132}, {30, K::Cnt, 464},
          {31, K::Cnt, 468},   {32, K::Cnt, 472}, {33, K::Cnt, 476},   {34, K::Cnt, 300}, {35, K::Cnt, 304},
          {36, K::Cnt, 308},   {37, K::Mac, 312}}},
        {Table::RadioStats,
         {{1, K::Cnt, 0},   {2, K::Cnt, 28},  {3, K::Cnt, 32},  {4, K::Cnt, 36},  {5, K::Cnt, 4},   {6, K::Cnt, 8},
          {7, K::Cnt, 12},  {8, K::Cnt, 16},  {9, K::Cnt, 20},  {10, K::Cnt, 24}, {11, K::Cnt, 40}, {12, K::Cnt, 52},
          {13, K::Cnt, 56}, {14, K::Cnt, 60}, {15, K::Cnt, 44}, {16, K::Cnt, 48}, {17, K::Cnt, 64}, {18, K::Cnt, 68},
          {19, K::Cnt, 72}, {20, K::Cnt, 76}, {21, K::Cnt, 80}, {22, K::Cnt, 84}, {23, K::Cnt, 88}}},
        {Table::VIf,
         {{1, K::Cnt, 0},   {2, K::Cnt, 12},  {3, K::Cnt, 16},  {4, K::Cnt, 20},  {5, K::Cnt, 4},   {6, K::Cnt, 8},
          {7, K::Cnt, 24},  {8, K::Cnt, 36},  {9, K::Cnt, 40},  {10, K::Cnt, 44}, {11, K::Cnt, 28}, {12, K::Cnt, 32},
          {13, K::Cnt, 48}, {14, K::Cnt, 52}, {15, K::Cnt, 56}, {16, K::Cnt, 60}, {17, K::Cnt, 64}, {18, K::Cnt, 68}}},
        {Table::RadioAttr, {{1, K::Int, 0}, {2, K::Int, 4}, {3, K::Int, 8}}},
    };
    return all.at(t);
}

u_char asn_type(K k) {
    switch (k) {
    case K::Int: return ASN_INTEGER;
    case K::Cnt: return ASN_COUNTER;
    case K::Str:
    case K::Mac: return ASN_OCTET_STR;
    case K::Ip: return ASN_IPADDRESS;
    }
    return 0;
}

void put_str(std::vector<unsigned char> &rec, size_t off, const std::string &s) {
    memcpy(rec.data() + off, s.c_str(), s.size() + 1);
}

// One row: record with the offset pattern (shifted by a per-row salt so rows
// differ), readable strings, and for the association table its index fields.
struct Row {
    Entry entry;
    std::vector<oid> index;
};

Row make_row(Table t, unsigned salt, uint32_t index_value) {
    Row row{Entry{offset_pattern(t), 1000 + salt}, {}};
    auto &rec = row.entry.record;
    for (size_t off = 0; off + 4 <= rec.size(); off += 4) put_u32(rec, off, get_u32(&rec[off]) + (salt << 24));
    const std::string s = std::to_string(salt);
    switch (t) {
    case Table::XIf:
        put_str(rec, 0, "wlan" + s);
        put_str(rec, 17, "ssid-" + s);
        break;
    case Table::Ass: {
        put_u32(rec, 0, index_value);
        const unsigned char mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, static_cast<unsigned char>(salt)};
        const unsigned char ip[4] = {0xc0, 0xa8, 0x01, static_cast<unsigned char>(10 + salt)};
        const unsigned char bssid[6] = {0x02, 0xaa, 0xbb, 0xcc, 0xdd, static_cast<unsigned char>(salt)};
        put_bytes(rec, 4, mac, 6);
        put_bytes(rec, 12, ip, 4);
        put_bytes(rec, 312, bssid, 6);
        put_str(rec, 16, "host-" + s);
        put_str(rec, 80, "guest-" + s);
        put_str(rec, 136, "user-" + s);
        row.index = {index_value, 6};
        for (unsigned char b : mac) row.index.push_back(b);
        return row;
    }
    default: break;
    }
    row.entry.cursor = index_value;
    row.index = {index_value};
    return row;
}

// Checks one answered variable against the record bytes its column names.
void expect_column(const agent::Varbind &vb, const Col &c, const std::vector<unsigned char> &rec) {
    SCOPED_TRACE("column " + std::to_string(c.number));
    ASSERT_EQ(vb.type, asn_type(c.kind));
    const unsigned char *field = rec.data() + c.offset;
    switch (c.kind) {
    case K::Int: EXPECT_EQ(vb.integer, static_cast<int32_t>(get_u32(field))); break;
    case K::Cnt: EXPECT_EQ(static_cast<unsigned long>(vb.integer), get_u32(field)); break;
    case K::Mac: EXPECT_EQ(vb.bytes, std::vector<unsigned char>(field, field + 6)); break;
    case K::Ip: EXPECT_EQ(vb.bytes, std::vector<unsigned char>(field, field + 4)); break;
    case K::Str: {
        size_t n = 0;
        while (n < c.room && field[n]) ++n;
        EXPECT_EQ(vb.bytes, std::vector<unsigned char>(field, field + n));
        break;
    }
    }
}

class Columns : public ModuleTest, public ::testing::WithParamInterface<TableInfo> {
protected:
    const TableInfo &t() const { return GetParam(); }
    // Three rows, reported out of index order.
    void three_rows() {
        rows = {make_row(t().table, 1, 30), make_row(t().table, 2, 10), make_row(t().table, 3, 20)};
        std::vector<Entry> list;
        for (const Row &r : rows) list.push_back(r.entry);
        fake::set_entries(t().table, list);
    }
    std::vector<Row> rows;
};

TEST_P(Columns, EveryColumnOfEveryRowAnswersFromItsOwnField) {
    three_rows();
    ASSERT_EQ(columns_of(t().table).size(), t().columns);
    for (const Row &row : rows) {
        std::vector<std::vector<oid>> names;
        for (const Col &c : columns_of(t().table)) names.push_back(agent::instance(t().number, c.number, row.index));
        agent::Response r = agent::get(names);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.errstat, SNMP_ERR_NOERROR);
        ASSERT_EQ(r.vbs.size(), names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(r.vbs[i].name, names[i]);
            expect_column(r.vbs[i], columns_of(t().table)[i], row.entry.record);
        }
        EXPECT_EQ(fake::live_blocks(), 0u) << "every row released once the response is out";
    }
    EXPECT_EQ(errors_logged(), "");
}

TEST_P(Columns, WalkVisitsColumnsInOrderAndRowsInIndexOrder) {
    three_rows();
    std::vector<agent::Varbind> walked = agent::walk(agent::table_root(t().number));
    const std::vector<size_t> by_index = {1, 2, 0}; // rows sorted by index 10, 20, 30
    ASSERT_EQ(walked.size(), t().columns * rows.size());
    size_t i = 0;
    for (const Col &c : columns_of(t().table))
        for (size_t r : by_index) {
            EXPECT_EQ(agent::to_string(walked[i].name),
                      agent::to_string(agent::instance(t().number, c.number, rows[r].index)));
            expect_column(walked[i], c, rows[r].entry.record);
            ++i;
        }

    // The agent caps repetitions (100 by default); stay below the cap.
    const size_t reps = std::min<size_t>(walked.size(), 60);
    agent::Response bulk = agent::getbulk({agent::table_root(t().number)}, 0, static_cast<long>(reps));
    ASSERT_TRUE(bulk.ok);
    ASSERT_EQ(bulk.vbs.size(), reps);
    for (size_t k = 0; k < reps; ++k) {
        EXPECT_EQ(bulk.vbs[k].name, walked[k].name);
        EXPECT_EQ(bulk.vbs[k].type, walked[k].type);
        EXPECT_EQ(bulk.vbs[k].integer, walked[k].integer);
        EXPECT_EQ(bulk.vbs[k].bytes, walked[k].bytes);
    }
}

TEST_P(Columns, GetStopsTheWalkAtTheRequestedRow) {
    three_rows();
    // The second row the data source reports has index 10.
    agent::Response r = agent::get({agent::instance(t().number, 1, rows[1].index)});
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.vbs.size(), 1u);
    expect_column(r.vbs[0], columns_of(t().table)[0], rows[1].entry.record);
    EXPECT_EQ(fake::calls(t().table), 2u) << "no data-source call past the row the iterator needed";
}

TEST_P(Columns, MissingRowsAreNoSuchInstanceAndTheOthersAreAnswered) {
    three_rows();
    std::vector<oid> missing = rows[0].index;
    missing[0] = 99;
    agent::Response r = agent::get({agent::instance(t().number, 1, rows[0].index),
                                    agent::instance(t().number, 1, missing),
                                    agent::instance(t().number, t().columns, rows[2].index)});
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.vbs.size(), 3u);
    expect_column(r.vbs[0], columns_of(t().table).front(), rows[0].entry.record);
    EXPECT_EQ(r.vbs[1].type, SNMP_NOSUCHINSTANCE);
    expect_column(r.vbs[2], columns_of(t().table).back(), rows[2].entry.record);
    EXPECT_EQ(errors_logged(), "");
}

TEST_P(Columns, EmptySourceGivesAnEmptyTable) {
    std::vector<oid> index = {0};
    if (t().table == Table::Ass) index = {0, 6, 0, 0, 0, 0, 0, 0};
    for (unsigned c = 1; c <= t().columns; ++c) {
        agent::Response r = agent::get({agent::instance(t().number, c, index)});
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.vbs.size(), 1u);
        EXPECT_EQ(r.vbs[0].type, SNMP_NOSUCHINSTANCE) << "column " << c;
    }
    EXPECT_TRUE(agent::walk(agent::table_root(t().number)).empty());
    EXPECT_EQ(agent::log_text(), "");
}

TEST_P(Columns, AllocationFailureForALaterRowEndsTheTableAfterThePreviousRow) {
    three_rows();
    alloc::fail_malloc_at(2); // the first row's block, then none for the second
    agent::Response r = agent::getnext({agent::table_root(t().number)});
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.vbs.size(), 1u);
    EXPECT_EQ(agent::to_string(r.vbs[0].name),
              agent::to_string(agent::instance(t().number, 1, rows[0].index)))
        << "only the first row was seen";
    EXPECT_EQ(errors_logged(), "");
}

INSTANTIATE_TEST_SUITE_P(AllTables, Columns, ::testing::ValuesIn(tables()), TableName());

// ---- edge values -----------------------------------------------------------

class Values : public ModuleTest {
protected:
    // GETs one column of the only row, whose record is `rec`.
    agent::Varbind get_one(Table t, unsigned column, const std::vector<unsigned char> &rec,
                           const std::vector<oid> &index) {
        fake::set_entries(t, {Entry{rec, t == Table::Ass ? 77u : static_cast<uint32_t>(index[0])}});
        agent::Response r = agent::get({agent::instance(table_info(t).number, column, index)});
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.vbs.size(), 1u);
        return r.vbs.empty() ? agent::Varbind{} : r.vbs[0];
    }
    static std::vector<unsigned char> bytes(const std::string &s) { return {s.begin(), s.end()}; }
    static std::vector<oid> ass_index(const std::vector<unsigned char> &rec) {
        std::vector<oid> idx = {get_u32(rec.data()), 6};
        for (size_t i = 4; i < 10; ++i) idx.push_back(rec[i]);
        return idx;
    }
};

TEST_F(Values, InterfaceStringsFromEmptyToTheWholeRoom) {
    auto rec = offset_pattern(Table::XIf);
    put_str(rec, 0, "");
    put_str(rec, 17, "");
    agent::Varbind name = get_one(Table::XIf, 1, rec, {4});
    EXPECT_EQ(name.type, ASN_OCTET_STR);
    EXPECT_TRUE(name.bytes.empty());
    agent::Varbind ssid = get_one(Table::XIf, 2, rec, {4});
    EXPECT_EQ(ssid.type, ASN_OCTET_STR);
    EXPECT_TRUE(ssid.bytes.empty());

    const std::string name16(16, 'n'), ssid34(34, 's');
    put_str(rec, 0, name16);
    put_str(rec, 17, ssid34);
    EXPECT_EQ(get_one(Table::XIf, 1, rec, {4}).bytes, bytes(name16));
    EXPECT_EQ(get_one(Table::XIf, 2, rec, {4}).bytes, bytes(ssid34));

    // No NUL inside the room: the whole room, never a byte of the next field
    // (byte 52, the first integer's first byte, is made non-zero: the
    // pattern's first byte there is 0 on a big-endian processor).
    memset(rec.data(), 'N', 17);
    memset(rec.data() + 17, 'S', 35);
    rec[52] = 0x7f;
    EXPECT_EQ(get_one(Table::XIf, 1, rec, {4}).bytes, bytes(std::string(17, 'N')));
    EXPECT_EQ(get_one(Table::XIf, 2, rec, {4}).bytes, bytes(std::string(35, 'S')));

    // Bytes outside printable ASCII pass unchanged; a zero byte ends the SSID.
    const unsigned char odd[] = {0x01, 0xff, 0x80, 0x7f, 0x1b, 0x00, 'x'};
    put_bytes(rec, 17, odd, sizeof odd);
    EXPECT_EQ(get_one(Table::XIf, 2, rec, {4}).bytes, (std::vector<unsigned char>{0x01, 0xff, 0x80, 0x7f, 0x1b}));
    EXPECT_EQ(errors_logged(), "");
}

TEST_F(Values, NegativeAndAllOnesIntegersPassUnchanged) {
    auto xif = offset_pattern(Table::XIf);
    put_u32(xif, 52, static_cast<uint32_t>(-5));
    put_u32(xif, 56, 0xffffffffu);
    EXPECT_EQ(get_one(Table::XIf, 3, xif, {0}).integer, -5);
    EXPECT_EQ(get_one(Table::XIf, 4, xif, {0}).integer, -1);

    auto attr = offset_pattern(Table::RadioAttr);
    put_u32(attr, 8, static_cast<uint32_t>(-95));
    agent::Varbind noise = get_one(Table::RadioAttr, 3, attr, {2});
    EXPECT_EQ(noise.type, ASN_INTEGER);
    EXPECT_EQ(noise.integer, -95);
    // Bytes 12 to 23 belong to the data source and change no answer.
    for (size_t i = 12; i < 24; ++i) attr[i] = 0xee;
    EXPECT_EQ(get_one(Table::RadioAttr, 3, attr, {2}).integer, -95);
    EXPECT_EQ(get_one(Table::RadioAttr, 1, attr, {2}).integer, 0x10000);

    auto stats = offset_pattern(Table::RadioStats);
    put_u32(stats, 84, 0xffffffffu);
    put_u32(stats, 88, 0);
    agent::Varbind tx = get_one(Table::RadioStats, 22, stats, {1});
    EXPECT_EQ(tx.type, ASN_COUNTER);
    EXPECT_EQ(static_cast<unsigned long>(tx.integer), 4294967295ul);
    EXPECT_EQ(get_one(Table::RadioStats, 23, stats, {1}).integer, 0);

    auto vif = offset_pattern(Table::VIf);
    put_u32(vif, 64, 0xffffffffu);
    EXPECT_EQ(static_cast<unsigned long>(get_one(Table::VIf, 17, vif, {1}).integer), 4294967295ul);
}

TEST_F(Values, AssociationStringsAddressesAndAllOnesFields) {
    auto rec = offset_pattern(Table::Ass);
    put_u32(rec, 0, 3);
    const unsigned char zeros[6] = {0, 0, 0, 0, 0, 0};
    const unsigned char ip[4] = {0xc0, 0xa8, 0x01, 0x0a};
    put_bytes(rec, 4, zeros, 6);
    put_bytes(rec, 312, zeros, 6);
    put_bytes(rec, 12, ip, 4);
    put_u32(rec, 52, 0xffffffffu); // RSSI, INTEGER
    put_u32(rec, 60, 0xffffffffu); // link uptime, Counter32
    put_str(rec, 16, "");
    put_str(rec, 80, "");
    put_str(rec, 136, "");
    const auto idx = ass_index(rec);
    EXPECT_EQ(agent::to_string(idx), ".3.6.0.0.0.0.0.0");

    agent::Varbind mac = get_one(Table::Ass, 1, rec, idx);
    EXPECT_EQ(mac.type, ASN_OCTET_STR);
    EXPECT_EQ(mac.bytes, std::vector<unsigned char>(6, 0)) << "a MAC is always 6 octets";
    EXPECT_EQ(get_one(Table::Ass, 37, rec, idx).bytes, std::vector<unsigned char>(6, 0));
    agent::Varbind addr = get_one(Table::Ass, 2, rec, idx);
    EXPECT_EQ(addr.type, ASN_IPADDRESS);
    EXPECT_EQ(addr.bytes, (std::vector<unsigned char>{192, 168, 1, 10}));
    agent::Varbind rssi = get_one(Table::Ass, 4, rec, idx);
    EXPECT_EQ(rssi.type, ASN_INTEGER);
    EXPECT_EQ(rssi.integer, -1);
    agent::Varbind uptime = get_one(Table::Ass, 5, rec, idx);
    EXPECT_EQ(uptime.type, ASN_COUNTER);
    EXPECT_EQ(static_cast<unsigned long>(uptime.integer), 4294967295ul);
    for (unsigned c : {3u, 10u, 15u}) {
        agent::Varbind s = get_one(Table::Ass, c, rec, idx);
        EXPECT_EQ(s.type, ASN_OCTET_STR) << "column " << c;
        EXPECT_TRUE(s.bytes.empty()) << "column " << c;
    }

    // Longest strings that still end inside their rooms.
    put_str(rec, 16, std::string(35, 'h'));
    put_str(rec, 80, std::string(35, 's'));
    put_str(rec, 136, std::string(163, 'u'));
    EXPECT_EQ(get_one(Table::Ass, 3, rec, idx).bytes, bytes(std::string(35, 'h')));
    EXPECT_EQ(get_one(Table::Ass, 10, rec, idx).bytes, bytes(std::string(35, 's')));
    EXPECT_EQ(get_one(Table::Ass, 15, rec, idx).bytes, bytes(std::string(163, 'u')));

    // No NUL in the room: the whole room and nothing of the field after it.
    memset(rec.data() + 16, 'H', 36);
    memset(rec.data() + 80, 'S', 36);
    memset(rec.data() + 136, 'U', 164);
    EXPECT_EQ(get_one(Table::Ass, 3, rec, idx).bytes, bytes(std::string(36, 'H')));
    EXPECT_EQ(get_one(Table::Ass, 10, rec, idx).bytes, bytes(std::string(36, 'S')));
    EXPECT_EQ(get_one(Table::Ass, 15, rec, idx).bytes, bytes(std::string(164, 'U')));
    EXPECT_EQ(errors_logged(), "");
}

TEST_F(Values, TwoAssociationsOfOneClientUnderDifferentFirstIndexesAreTwoRows) {
    auto a = offset_pattern(Table::Ass), b = offset_pattern(Table::Ass);
    const unsigned char mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    put_u32(a, 0, 3);
    put_u32(b, 0, 1);
    put_bytes(a, 4, mac, 6);
    put_bytes(b, 4, mac, 6);
    fake::set_entries(Table::Ass, {Entry{a, 5}, Entry{b, 6}});
    auto walked = agent::walk(agent::instance(2, 10, {}));
    ASSERT_GE(walked.size(), 2u);
    EXPECT_EQ(agent::to_string(walked[0].name), agent::to_string(agent::instance(2, 10, {1, 6, 0, 17, 34, 51, 68, 85})));
    EXPECT_EQ(agent::to_string(walked[1].name), agent::to_string(agent::instance(2, 10, {3, 6, 0, 17, 34, 51, 68, 85})));
}

// The string accessors measure within their field only: with a record whose
// last byte is the last readable byte of the process and no NUL anywhere, a
// measurement that ran past the room would fault.
TEST(StringAccessors, NeverReadPastTheirRoom) {
    const long page = sysconf(_SC_PAGESIZE);
    auto *map = static_cast<unsigned char *>(
        mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(map, MAP_FAILED);
    ASSERT_EQ(mprotect(map + page, static_cast<size_t>(page), PROT_NONE), 0);
    struct Case {
        const void *(*get)(const void *, size_t *);
        size_t record, offset, room;
    };
    const Case cases[] = {{get_qvIfName, 68, 0, 17},         {get_qvSSIDName, 68, 17, 35},
                          {get_qvClientHostname, 484, 16, 36}, {get_qvClientSSID, 484, 80, 36},
                          {get_qvClientUsername, 484, 136, 164}};
    for (const Case &c : cases) {
        unsigned char *rec = map + page - c.record;
        memset(rec, 'A', c.record);
        // Put the room's end at the readable end of memory, as near as a
        // record's 4-byte alignment allows (records always sit 4 bytes into
        // a malloc'd block).
        const size_t span = (c.offset + c.room + 3) & ~static_cast<size_t>(3);
        unsigned char *shifted = map + page - span;
        memset(shifted, 'A', span);
        size_t len = 12345;
        EXPECT_EQ(c.get(shifted, &len), shifted + c.offset);
        EXPECT_EQ(len, c.room);
        len = 12345;
        EXPECT_EQ(c.get(rec, &len), rec + c.offset);
        EXPECT_EQ(len, c.room);
    }
    munmap(map, static_cast<size_t>(2 * page));
}

} // namespace
} // namespace qvtest
