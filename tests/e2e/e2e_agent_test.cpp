/*
 * The agent around the module: an access point with nothing to report,
 * description files that cannot be used, and the module's start-up lines in
 * snmpd's log with and without debugging.
 */
#include "e2e_harness.h"

#include <cstdio>
#include <regex>

#include <unistd.h>

namespace qv_e2e {
namespace {

using qv_test::parse_oid;
using qv_test::to_string;

/* A GET of an instance in every table, and a walk and a GETBULK of the
 * whole subtree, find nothing. */
void expect_empty_tables(qv_test::SnmpClient &client) {
    for (const auto &t : tables()) {
        const Oid index = t.client_index ? parse_oid("1.6.0.17.34.51.68.85") : Oid{0};
        for (unsigned c : {1u, static_cast<unsigned>(t.columns.size())}) {
            VarBind vb = client.get_one(instance_oid(t, c, index));
            EXPECT_EQ(vb.type, SNMP_NOSUCHINSTANCE) << t.name << ": " << describe(vb);
        }
    }
    bool complete = false;
    std::vector<VarBind> walked = client.walk(subtree(), &complete);
    EXPECT_TRUE(complete);
    EXPECT_TRUE(walked.empty()) << walked.size() << " instances, first " << describe(walked.front());
    std::vector<VarBind> bulk = client.bulk_walk(subtree(), 10, &complete);
    EXPECT_TRUE(complete);
    EXPECT_TRUE(bulk.empty()) << bulk.size() << " instances";
}

class EmptyAccessPoint : public AgentSuite {
protected:
    static void SetUpTestSuite() {
        qv_test::AgentOptions options;
        options.description_file = fixture_path("empty.json");
        start_agent(options);
    }
    static void TearDownTestSuite() { stop_agent(); }
};

TEST_F(EmptyAccessPoint, EveryTableIsEmpty) {
    expect_empty_tables(client());
    /* The module did ask the data source, once per table and walk at least. */
    EXPECT_GE(sim_counter(client(), FirstCalls), 5);
    EXPECT_EQ(sim_counter(client(), ConfigErrors), 0);
}

/* With debugging off the module writes nothing at start-up. */
TEST_F(EmptyAccessPoint, StartUpIsSilentWithoutDebugging) {
    const std::string log = agent()->log();
    EXPECT_EQ(count_occurrences(log, "initialize_table_"), 0u) << log;
    EXPECT_EQ(count_occurrences(log, "Registering table"), 0u) << log;
    EXPECT_EQ(count_occurrences(log, "qv_if_iterate"), 0u) << log;
}

/* A description that cannot be used: one log line naming the file, empty
 * tables, and snmpd keeps answering. The line is not repeated on later walks
 * while the file stays as it is. */
class BrokenDescription : public ::testing::TestWithParam<std::string> {};

TEST_P(BrokenDescription, GivesOneLogLineAndEmptyTables) {
    const std::string path = GetParam() == "missing" ? fixture_path("no-such-file.json") : fixture_path(GetParam());
    qv_test::AgentOptions options;
    options.description_file = path;
    qv_test::SnmpdProcess agent;
    std::string error;
    ASSERT_TRUE(agent.start(options, &error)) << error;
    qv_test::SnmpClient client(agent.peer(), "public");

    expect_empty_tables(client);
    expect_empty_tables(client);

    const std::string log = agent.log();
    const std::vector<std::string> lines = lines_containing(log, path);
    EXPECT_EQ(lines.size(), 1u) << log;
    if (GetParam() == "malformed.json" && lines.size() == 1) {
        EXPECT_TRUE(std::regex_search(lines[0], std::regex("line 3.*column"))) << lines[0];
    }
    EXPECT_GE(sim_counter(client, ConfigErrors), 1);
    EXPECT_EQ(sim_counter(client, LiveBlocks), 0);
    EXPECT_TRUE(agent.running());
    if (HasFailure()) std::cerr << "--- snmpd log ---\n" << log << "--- end of log ---\n";
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenDescription, ::testing::Values("malformed.json", "missing"),
                         [](const auto &info) { return info.param == "missing" ? "Missing" : "Malformed"; });

/* With the registration tokens and "trace" on, every table writes the trace
 * line naming its start-up function, then its registration message, in
 * registration order. */
TEST(StartUpLog, EachTableTracesItsRegistrationInOrder) {
    static const char *const names[] = {"qvXIfTable", "qvAssociationTable", "qvRadioStatsTable", "qvVIfStatsTable",
                                        "qvRadioAttributeTable"};
    qv_test::AgentOptions options;
    options.description_file = fixture_path("empty.json");
    options.debug_tokens = {"trace"};
    for (const char *n : names) options.debug_tokens.push_back(std::string("initialize_table_") + n);
    qv_test::SnmpdProcess agent;
    std::string error;
    ASSERT_TRUE(agent.start(options, &error)) << error;
    const std::string log = agent.log();
    agent.stop();

    std::vector<std::string> lines;
    {
        std::istringstream in(log);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    size_t previous = 0;
    for (const char *n : names) {
        const std::string fn = std::string("initialize_table_") + n;
        const std::regex trace("trace: " + fn + "\\(\\): [^,]+\\.cpp, [0-9]+:");
        const std::string message = fn + ": Registering table " + n + " as a table iterator";
        size_t found = 0, at = 0;
        for (size_t i = 0; i + 1 < lines.size(); ++i) {
            if (lines[i + 1] == message && std::regex_match(lines[i], trace)) {
                ++found;
                at = i;
            }
        }
        EXPECT_EQ(found, 1u) << fn << ": trace line and registration message; module lines in the log:\n"
                             << [&] {
                                    std::string out;
                                    for (const auto &l : lines_containing(log, "initialize_table_qv")) out += l + "\n";
                                    return out;
                                }();
        if (found == 1) {
            EXPECT_GT(at, previous) << n << " registered out of order";
            previous = at;
        }
    }
}


/* The module keeps no rows between requests: when the access point changes,
 * the next request shows it, without restarting snmpd. */
TEST(Loading, EveryRequestFetchesTheRowsAfresh) {
    qv_test::SnmpdProcess agent;
    std::string error;
    const std::string dir = [] {
        char pattern[] = "/tmp/qv-e2e-ap-XXXXXX";
        return std::string(::mkdtemp(pattern) ? pattern : "");
    }();
    ASSERT_FALSE(dir.empty());
    const std::string path = dir + "/ap.json";
    auto publish = [&](const std::string &fixture) {
        /* Written beside, then renamed over: the data source sees a new file. */
        std::ifstream in(fixture_path(fixture), std::ios::binary);
        std::ofstream out(path + ".new", std::ios::binary);
        out << in.rdbuf();
        out.close();
        ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    };
    publish("empty.json");
    qv_test::AgentOptions options;
    options.description_file = path;
    ASSERT_TRUE(agent.start(options, &error)) << error;
    qv_test::SnmpClient client(agent.peer(), "public");

    const Oid name = parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1.1.1.1.7");
    EXPECT_EQ(client.get_one(name).type, SNMP_NOSUCHINSTANCE);
    publish("values.json");
    VarBind vb = client.get_one(name);
    EXPECT_EQ(vb.type, ASN_OCTET_STR);
    EXPECT_EQ(vb.octets, "wlan0.vap-guest1");
    publish("empty.json");
    EXPECT_EQ(client.get_one(name).type, SNMP_NOSUCHINSTANCE);

    EXPECT_EQ(sim_counter(client, LiveBlocks), 0);
    EXPECT_EQ(sim_counter(client, ConfigErrors), 0);
    if (HasFailure()) std::cerr << "--- snmpd log ---\n" << agent.log() << "--- end of log ---\n";
    agent.stop();
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
}

/* The data source preloaded into snmpd instead of a dlmod line. */
TEST(Loading, PreloadedDataSourceServesTheModule) {
    qv_test::AgentOptions options;
    options.description_file = fixture_path("values.json");
    options.preload_sim = true;
    qv_test::SnmpdProcess agent;
    std::string error;
    ASSERT_TRUE(agent.start(options, &error)) << error;
    qv_test::SnmpClient client(agent.peer(), "public");
    VarBind vb = client.get_one(parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1.2.1.10.3.6.0.17.34.51.68.85"));
    EXPECT_EQ(vb.type, ASN_OCTET_STR);
    EXPECT_EQ(vb.octets.size(), 35u);
    if (HasFailure()) std::cerr << "--- snmpd log ---\n" << agent.log() << "--- end of log ---\n";
}

} // namespace
} // namespace qv_e2e
