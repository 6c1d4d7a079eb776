/*
 * Shared by the end-to-end suites: one snmpd per suite, the simulated data
 * source's diagnostic counters, and the checks made after every test.
 */
#ifndef QV_E2E_HARNESS_H
#define QV_E2E_HARNESS_H

#include "e2e_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace qv_e2e {

inline std::string fixture_path(const std::string &name) { return std::string(QV_E2E_FIXTURE_DIR) + "/" + name; }

inline json load_fixture(const std::string &name) {
    std::ifstream in(fixture_path(name));
    if (!in) throw std::runtime_error("cannot open fixture " + name);
    return json::parse(in);
}

/* Diagnostic scalars of the simulated data source, 1.3.6.1.4.1.32473.1.1.1.99.<n>.0. */
enum SimCounter {
    LiveBlocks = 1,
    PeakLiveBlocks = 2,
    FirstCalls = 3,
    NextCalls = 4,
    ReleaseErrors = 5,
    ConfigLoads = 6,
    ConfigErrors = 7,
};

inline Oid sim_counter_oid(SimCounter c) {
    return qv_test::parse_oid("1.3.6.1.4.1.32473.1.1.1.99." + std::to_string(static_cast<int>(c)) + ".0");
}

/* A counter's value, or -1 if the agent did not answer it with a number.
 * The request itself is answered by the sim's scalar handler, so it does not
 * go through the module or create blocks. */
inline long long sim_counter(qv_test::SnmpClient &client, SimCounter c) {
    VarBind vb = client.get_one(sim_counter_oid(c));
    switch (vb.type) {
    case ASN_INTEGER: return vb.integer;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_UINTEGER: return vb.unsigned32;
    default: return -1;
    }
}

inline size_t count_occurrences(const std::string &text, const std::string &needle) {
    size_t n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) ++n;
    return n;
}

inline std::vector<std::string> lines_containing(const std::string &text, const std::string &needle) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.find(needle) != std::string::npos) out.push_back(line);
    return out;
}

/* One agent for a whole suite. A test that fails prints the agent's log. */
class AgentSuite : public ::testing::Test {
protected:
    static std::unique_ptr<qv_test::SnmpdProcess> &agent() {
        static std::unique_ptr<qv_test::SnmpdProcess> a;
        return a;
    }
    static std::string &start_error() {
        static std::string e;
        return e;
    }
    static void start_agent(const qv_test::AgentOptions &options) {
        agent() = std::make_unique<qv_test::SnmpdProcess>();
        start_error().clear();
        if (!agent()->start(options, &start_error())) agent().reset();
    }
    static void stop_agent() { agent().reset(); }

    void SetUp() override {
        ASSERT_TRUE(agent()) << "snmpd did not start: " << start_error();
        ASSERT_TRUE(agent()->running()) << "snmpd is gone\n" << agent()->log();
        client_ = std::make_unique<qv_test::SnmpClient>(agent()->peer(), "public");
        ASSERT_TRUE(client_->is_open());
    }

    /* After every test: the agent is still up, every block the data source
     * filled has been released, none twice, and the module logged no
     * "problem encountered" line. */
    void TearDown() override {
        if (agent() && client_) {
            EXPECT_TRUE(agent()->running()) << "snmpd exited";
            EXPECT_EQ(sim_counter(*client_, LiveBlocks), 0) << "rows still held after the requests";
            EXPECT_EQ(sim_counter(*client_, ReleaseErrors), 0);
            EXPECT_EQ(count_occurrences(agent()->log(), "problem encountered"), 0u);
        }
        if (HasFailure() && agent()) std::cerr << "--- snmpd log ---\n" << agent()->log() << "--- end of log ---\n";
        client_.reset();
    }

    qv_test::SnmpClient &client() { return *client_; }

    std::unique_ptr<qv_test::SnmpClient> client_;
};

} // namespace qv_e2e

#endif /* QV_E2E_HARNESS_H */
