// The request handlers, called directly with request lists built the way the
// table helper and the iterator leave them (table information and the row's
// data context attached to each request), for every table.
#include "unit_common.h"

namespace qvtest {
namespace {

struct Requests {
    std::vector<netsnmp_request_info> reqs;
    std::vector<netsnmp_table_request_info> tinfo;
    netsnmp_agent_request_info reqinfo{};

    // Each entry: row (or null), column (or -1 for no table information).
    Requests(int mode, const std::vector<std::pair<void *, long>> &layout) : reqs(layout.size()), tinfo(layout.size()) {
        reqinfo.mode = mode;
        for (size_t i = 0; i < layout.size(); ++i) {
            netsnmp_request_info &r = reqs[i];
            r = netsnmp_request_info{};
            const oid name[] = {1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1, 9, 1, 1, i};
            snmp_varlist_add_variable(&r.requestvb, name, OID_LENGTH(name), ASN_NULL, nullptr, 0);
            if (layout[i].first)
                netsnmp_request_add_list_data(&r, netsnmp_create_data_list(TABLE_ITERATOR_NAME, layout[i].first, nullptr));
            if (layout[i].second >= 0) {
                tinfo[i] = netsnmp_table_request_info{};
                tinfo[i].colnum = static_cast<unsigned>(layout[i].second);
                netsnmp_request_add_list_data(&r, netsnmp_create_data_list(TABLE_HANDLER_NAME, &tinfo[i], nullptr));
            }
            if (i) {
                reqs[i - 1].next = &r;
                r.prev = &reqs[i - 1];
            }
        }
    }
    ~Requests() {
        for (auto &r : reqs) {
            netsnmp_free_request_data_sets(&r);
            snmp_free_varbind(r.requestvb);
        }
    }
    int run(const TableInfo &t) { return t.handler(nullptr, nullptr, &reqinfo, &reqs[0]); }
    u_char type(size_t i) const { return reqs[i].requestvb->type; }
};

class Handler : public ModuleTest, public ::testing::WithParamInterface<TableInfo> {
protected:
    const TableInfo &t() const { return GetParam(); }
    void SetUp() override {
        ModuleTest::SetUp();
        row_a = offset_pattern(t().table);
        row_b = offset_pattern(t().table);
        row_b[0] ^= 0x40; // a second, different row
    }
    std::string message(const char *what) const {
        return std::string("problem encountered in ") + t().name + "_handler: " + what + "\n";
    }
    std::vector<unsigned char> row_a, row_b;
};

TEST_P(Handler, RequestWithoutRowGetsNoSuchInstanceAndTheOthersAreAnswered) {
    Requests r(MODE_GET, {{row_a.data(), 1}, {nullptr, 1}, {row_b.data(), 1}});
    EXPECT_EQ(r.run(t()), SNMP_ERR_NOERROR);
    EXPECT_NE(r.type(0), ASN_NULL);
    EXPECT_NE(r.type(0), SNMP_NOSUCHINSTANCE);
    EXPECT_EQ(r.type(1), SNMP_NOSUCHINSTANCE);
    EXPECT_NE(r.type(2), ASN_NULL);
    EXPECT_NE(r.type(2), SNMP_NOSUCHINSTANCE);
    EXPECT_EQ(agent::log_text(), "");
}

TEST_P(Handler, MissingRowIsCheckedBeforeTableInformation) {
    Requests r(MODE_GET, {{nullptr, -1}});
    EXPECT_EQ(r.run(t()), SNMP_ERR_NOERROR);
    EXPECT_EQ(r.type(0), SNMP_NOSUCHINSTANCE);
    EXPECT_EQ(agent::log_text(), "");
}

TEST_P(Handler, AlreadyProcessedRequestIsLeftAlone) {
    Requests r(MODE_GET, {{nullptr, 1}, {row_a.data(), 1}, {row_a.data(), 0}, {row_a.data(), 1}});
    r.reqs[0].processed = 1;
    r.reqs[1].processed = 1;
    r.reqs[2].processed = 1;
    EXPECT_EQ(r.run(t()), SNMP_ERR_NOERROR);
    EXPECT_EQ(r.type(0), ASN_NULL) << "no noSuchInstance on a processed request";
    EXPECT_EQ(r.type(1), ASN_NULL) << "no value on a processed request";
    EXPECT_EQ(r.type(2), ASN_NULL);
    EXPECT_NE(r.type(3), ASN_NULL) << "requests after it are still answered";
    EXPECT_EQ(agent::log_text(), "") << "no message for a processed request";
}

TEST_P(Handler, ColumnZeroAndOnePastTheLastAreUnknown) {
    Requests r(MODE_GET, {{row_a.data(), 0}, {row_a.data(), t().columns + 1}, {row_a.data(), t().columns}});
    EXPECT_EQ(r.run(t()), SNMP_ERR_NOERROR);
    EXPECT_EQ(r.type(0), ASN_NULL);
    EXPECT_EQ(r.type(1), ASN_NULL);
    EXPECT_EQ(r.reqs[0].processed, 0) << "no error is set";
    EXPECT_EQ(r.reqs[1].processed, 0);
    EXPECT_NE(r.type(2), ASN_NULL) << "the last column exists";
    ASSERT_EQ(agent::log().size(), 2u);
    for (const auto &line : agent::log()) {
        EXPECT_EQ(line.priority, LOG_ERR);
        EXPECT_EQ(line.text, message("unknown column"));
    }
}

TEST_P(Handler, NonGetModeLogsOncePerRequestWithTableInformationAndStoresNothing) {
    for (int mode : {int{MODE_GETNEXT}, int{MODE_SET_RESERVE1}}) {
        agent::clear_log();
        Requests r(mode, {{row_a.data(), 1}, {nullptr, 2}, {row_a.data(), -1}});
        EXPECT_EQ(r.run(t()), SNMP_ERR_NOERROR);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(r.type(i), ASN_NULL) << "mode " << mode << " request " << i;
            EXPECT_EQ(r.reqs[i].processed, 0) << "the row check belongs to GET only";
        }
        ASSERT_EQ(agent::log().size(), 2u) << "mode " << mode;
        for (const auto &line : agent::log()) {
            EXPECT_EQ(line.priority, LOG_ERR);
            EXPECT_EQ(line.text, message("unsupported mode"));
        }
    }
}

TEST_P(Handler, RequestWithoutTableInformationIsSkippedSilently) {
    Requests r(MODE_GET, {{row_a.data(), -1}, {row_b.data(), 1}});
    EXPECT_EQ(r.run(t()), SNMP_ERR_NOERROR);
    EXPECT_EQ(r.type(0), ASN_NULL);
    EXPECT_EQ(r.reqs[0].processed, 0);
    EXPECT_NE(r.type(1), ASN_NULL);
    EXPECT_EQ(agent::log_text(), "");
}

INSTANTIATE_TEST_SUITE_P(AllTables, Handler, ::testing::ValuesIn(tables()), TableName());

} // namespace
} // namespace qvtest
