// Start-up: what the module hands the agent for each table, in which order,
// what happens when one table's registration cannot be built, and what it
// writes to the log. The agent's registration calls are wrapped (--wrap) to
// see their arguments while still doing the real registration.
#include "unit_common.h"

#include <regex>

namespace qvtest {
namespace {

struct Captured {
    std::string name;
    std::vector<oid> root;
    int modes = -1;
    Netsnmp_Node_Handler *access = nullptr;
    bool handler_alone = false;
    netsnmp_handler_registration *reg = nullptr;
    netsnmp_iterator_info *iinfo = nullptr;
    netsnmp_iterator_info iinfo_copy{};
    netsnmp_table_registration_info treg_copy{};
    std::vector<u_char> index_types;
};

struct CreateCall {
    std::string name;
    std::vector<oid> root;
    int modes;
    netsnmp_handler_registration *result;
};

std::vector<Captured> registered;
std::vector<CreateCall> created;
std::vector<netsnmp_handler_registration *> reg_freed;
unsigned fail_create_at = 0;

} // namespace
} // namespace qvtest

using namespace qvtest;

extern "C" {
int __real_netsnmp_register_table_iterator(netsnmp_handler_registration *, netsnmp_iterator_info *);
netsnmp_handler_registration *__real_netsnmp_create_handler_registration(const char *, Netsnmp_Node_Handler *,
                                                                         const oid *, size_t, int);
void __real_netsnmp_handler_registration_free(netsnmp_handler_registration *);

int __wrap_netsnmp_register_table_iterator(netsnmp_handler_registration *reg, netsnmp_iterator_info *iinfo) {
    Captured c;
    c.reg = reg;
    c.iinfo = iinfo;
    if (reg) {
        c.name = reg->handlerName ? reg->handlerName : "";
        c.root.assign(reg->rootoid, reg->rootoid + reg->rootoid_len);
        c.modes = reg->modes;
        c.access = reg->handler ? reg->handler->access_method : nullptr;
        c.handler_alone = reg->handler && !reg->handler->next;
    }
    if (iinfo) {
        c.iinfo_copy = *iinfo;
        if (iinfo->table_reginfo) {
            c.treg_copy = *iinfo->table_reginfo;
            for (netsnmp_variable_list *v = iinfo->table_reginfo->indexes; v; v = v->next_variable)
                c.index_types.push_back(v->type);
        }
    }
    registered.push_back(c);
    return __real_netsnmp_register_table_iterator(reg, iinfo);
}

netsnmp_handler_registration *__wrap_netsnmp_create_handler_registration(const char *name,
                                                                         Netsnmp_Node_Handler *handler,
                                                                         const oid *root, size_t len, int modes) {
    netsnmp_handler_registration *result = nullptr;
    if (!(fail_create_at && created.size() + 1 == fail_create_at))
        result = __real_netsnmp_create_handler_registration(name, handler, root, len, modes);
    created.push_back({name ? name : "", std::vector<oid>(root, root + len), modes, result});
    return result;
}

void __wrap_netsnmp_handler_registration_free(netsnmp_handler_registration *reg) {
    reg_freed.push_back(reg);
    __real_netsnmp_handler_registration_free(reg);
}
}

namespace qvtest {
namespace {

class Startup : public ModuleTest {
protected:
    void register_on_setup() override {} // each test starts the module itself
    void SetUp() override {
        ModuleTest::SetUp();
        registered.clear();
        created.clear();
        reg_freed.clear();
        fail_create_at = 0;
    }
    void TearDown() override {
        fail_create_at = 0;
        ModuleTest::TearDown();
    }
    static bool ours_at(const TableInfo &t) {
        netsnmp_handler_registration *reg = agent::registration_at(agent::table_root(t.number));
        return reg && reg->handlerName && std::string(reg->handlerName) == t.name;
    }
};

TEST_F(Startup, RegistersTheFiveTablesInOrderReadOnlyWithTheirIteratorCallbacks) {
    init_qv_if_iterate();
    ASSERT_EQ(registered.size(), 5u);
    auto callocs = fake::events_of(Ev::Calloc);
    ASSERT_EQ(callocs.size(), 10u) << "a table information and an iterator information per table";
    for (size_t i = 0; i < 5; ++i) {
        const TableInfo &t = tables()[i];
        const Captured &c = registered[i];
        SCOPED_TRACE(t.name);
        EXPECT_EQ(c.name, t.name);
        EXPECT_EQ(agent::to_string(c.root), agent::to_string(agent::table_root(t.number)));
        EXPECT_EQ(c.modes, HANDLER_CAN_RONLY);
        EXPECT_EQ(created[i].modes, HANDLER_CAN_RONLY);
        EXPECT_EQ(created[i].root.size(), 13u);
        EXPECT_EQ(c.access, t.handler);
        EXPECT_TRUE(c.handler_alone) << "the table's handler is the only handler handed over";

        // Zero-filled structures from calloc, table information first.
        EXPECT_EQ(callocs[2 * i].size, sizeof(netsnmp_table_registration_info));
        EXPECT_EQ(callocs[2 * i + 1].size, sizeof(netsnmp_iterator_info));
        EXPECT_EQ(static_cast<void *>(c.iinfo), callocs[2 * i + 1].ptr);

        const netsnmp_iterator_info &ii = c.iinfo_copy;
        EXPECT_EQ(ii.get_first_data_point, t.first);
        EXPECT_EQ(ii.get_next_data_point, t.next);
        EXPECT_EQ(ii.make_data_context, t.make_data_context);
        EXPECT_EQ(ii.free_data_context, t.free_data_context);
        EXPECT_EQ(ii.free_loop_context_at_end, t.free_loop_context_at_end);
        EXPECT_EQ(ii.free_loop_context, nullptr);
        EXPECT_EQ(ii.myvoid, nullptr);
        EXPECT_EQ(ii.flags, 0) << "no promise of sorted rows";
        EXPECT_EQ(ii.get_row_indexes, nullptr);
        EXPECT_EQ(ii.indexes, nullptr);
        EXPECT_EQ(static_cast<void *>(ii.table_reginfo), callocs[2 * i].ptr);

        const netsnmp_table_registration_info &tr = c.treg_copy;
        std::vector<u_char> want = {ASN_INTEGER};
        if (t.table == Table::Ass) want.push_back(ASN_OCTET_STR);
        EXPECT_EQ(c.index_types, want);
        EXPECT_EQ(tr.min_column, 1u);
        EXPECT_EQ(tr.max_column, t.columns);
        EXPECT_EQ(tr.valid_columns, nullptr);

        EXPECT_TRUE(ours_at(t)) << "registered with the agent";
    }
    EXPECT_TRUE(fake::events_of(Ev::Malloc).empty()) << "no row is fetched at start-up";
    EXPECT_EQ(fake::calls(Table::XIf) + fake::calls(Table::Ass), 0u);
    EXPECT_EQ(agent::log_text(), "") << "with debugging off start-up writes nothing";
}

// One table's registration cannot be built, at each of its three steps: that
// table is missing and logged, its partial structures are released, and the
// other four are registered as usual.
TEST_F(Startup, FailureToBuildOneTableLeavesTheOtherFourRegistered) {
    for (size_t k = 0; k < 5; ++k) {
        for (int step = 0; step < 3; ++step) {
            const TableInfo &failing = tables()[k];
            SCOPED_TRACE(std::string(failing.name) + " step " + std::to_string(step));
            agent::unregister_module();
            registered.clear();
            created.clear();
            reg_freed.clear();
            fake::clear_events();
            agent::clear_log();
            if (step < 2)
                alloc::fail_calloc_at(static_cast<unsigned>(2 * k + step + 1));
            else
                fail_create_at = static_cast<unsigned>(k + 1);

            init_qv_if_iterate();
            fail_create_at = 0;

            std::vector<std::string> names;
            for (const Captured &c : registered) names.push_back(c.name);
            std::vector<std::string> want;
            for (size_t i = 0; i < 5; ++i)
                if (i != k) want.push_back(tables()[i].name);
            EXPECT_EQ(names, want);
            for (size_t i = 0; i < 5; ++i) EXPECT_EQ(ours_at(tables()[i]), i != k) << tables()[i].name;

            ASSERT_EQ(agent::log().size(), 1u);
            EXPECT_EQ(agent::log()[0].priority, LOG_ERR);
            EXPECT_EQ(agent::log()[0].text, std::string("malloc failed in initialize_table_") + failing.name);

            // Whatever was obtained for the failing table is given back.
            auto callocs = fake::events_of(Ev::Calloc);
            for (size_t j = 2 * k; j < 2 * k + 2 && j < callocs.size(); ++j)
                if (callocs[j].ptr) {
                    EXPECT_GE(find_event(Ev::Free, [&](const Event &e) { return e.ptr == callocs[j].ptr; }), 0)
                        << "calloc " << j - 2 * k << " of the failing table leaked";
                }
            ASSERT_EQ(created.size(), 5u) << "the registration is created even after a failed calloc";
            if (created[k].result) {
                ASSERT_EQ(reg_freed.size(), 1u);
                EXPECT_EQ(reg_freed[0], created[k].result);
            } else {
                EXPECT_TRUE(reg_freed.empty());
            }
        }
    }
}

TEST_F(Startup, TablesStillAnswerWhenTheAssociationTableFailedToRegister) {
    alloc::fail_calloc_at(3); // the association table's table information
    init_qv_if_iterate();
    fake::set_entries(Table::XIf, {pattern_entry(Table::XIf, 4)});
    fake::set_entries(Table::Ass, {pattern_entry(Table::Ass, 4)});
    fake::set_entries(Table::RadioAttr, {pattern_entry(Table::RadioAttr, 4)});
    agent::Response r = agent::get({agent::instance(1, 3, {4}), agent::instance(5, 1, {4})});
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.vbs.size(), 2u);
    EXPECT_EQ(r.vbs[0].integer, 0x10000 + 52);
    EXPECT_EQ(r.vbs[1].integer, 0x10000);
    EXPECT_EQ(fake::calls(Table::Ass), 0u);
    EXPECT_TRUE(agent::walk(agent::table_root(2)).empty());
}

TEST_F(Startup, WriteRequestsAreAnsweredByTheAgentAndNeverReachTheModule) {
    init_qv_if_iterate();
    fake::set_entries(Table::RadioAttr, {pattern_entry(Table::RadioAttr, 1)});
    agent::clear_log();
    agent::Response r = agent::set_integer(agent::instance(5, 2, {1}), 20);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.errstat, SNMP_ERR_NOERROR);
    EXPECT_EQ(fake::calls(Table::RadioAttr), 0u);
    EXPECT_EQ(agent::log_text(LOG_ERR), "");
}

// Debug output goes through the agent's token debugging; with the module's
// tokens and "trace" enabled each table writes the standard trace line, its
// token and then its registration message.
TEST_F(Startup, DebugOutputNamesEachTableAfterTheTraceLine) {
    debug_register_tokens("trace,initialize_table_qv,qv_if_scalar");
    snmp_set_do_debugging(1);
    agent::clear_log();
    init_qv_if_iterate();
    snmp_set_do_debugging(0);

    const auto &log = agent::log();
    size_t last = 0;
    for (const TableInfo &t : tables()) {
        SCOPED_TRACE(t.name);
        const std::string message = std::string("Registering table ") + t.name + " as a table iterator\n";
        size_t at = 0;
        while (at < log.size() && log[at].text != message) ++at;
        ASSERT_LT(at, log.size()) << "registration message missing";
        ASSERT_GE(at, 3u);
        EXPECT_GT(at, last) << "tables announced in registration order";
        last = at;
        const std::string function = std::string("initialize_table_") + t.name;
        EXPECT_EQ(log[at - 1].text, function + ": ");
        EXPECT_EQ(log[at - 3].text, "trace: ");
        const std::string file = t.table == Table::XIf ? "src/tables/xif_table\\.cpp" : "src/[A-Za-z0-9_/]+\\.cpp";
        EXPECT_TRUE(std::regex_match(log[at - 2].text, std::regex(function + "\\(\\): " + file + ", [0-9]+:\n")))
            << "trace line was: " << log[at - 2].text;
        EXPECT_EQ(log[at].priority, LOG_DEBUG);
    }
    EXPECT_EQ(registered.size(), 5u);
}

TEST_F(Startup, ScalarStartUpAnnouncesItselfOnlyWhenDebuggingAndRegistersNothing) {
    qv_if_scalar();
    EXPECT_EQ(agent::log_text(), "") << "nothing with debugging off";

    debug_register_tokens("trace,initialize_table_qv,qv_if_scalar");
    snmp_set_do_debugging(1);
    agent::clear_log();
    qv_if_scalar();
    snmp_set_do_debugging(0);
    const auto &log = agent::log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].text, "trace: ");
    EXPECT_TRUE(std::regex_match(log[1].text, std::regex("qv_if_scalar\\(\\): src/scalar/qv_if_scalar\\.cpp, [0-9]+:\n")))
        << log[1].text;
    EXPECT_EQ(log[2].text, "qv_if_scalar: ");
    EXPECT_EQ(log[3].text, "Initializing\n");
    EXPECT_TRUE(registered.empty());
    EXPECT_TRUE(created.empty());
    EXPECT_TRUE(fake::events().empty()) << "no allocation";
}

} // namespace
} // namespace qvtest
