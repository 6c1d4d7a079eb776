// The module's objects in process with the real Net-SNMP agent library: every
// table's iteration callbacks and handler run through scenarios, start-up is
// watched through --wrap of the agent's registration calls. Expected facts
// come from tests/reference; every log and debug text is compared whole.
#include <gtest/gtest.h>
#include <string.h>

#include <deque>
#include <regex>
#include <sstream>

#include "fake_source.h"

extern "C" {
void init_qv_if_iterate(void);
void qv_if_scalar(void);
void qv_if_iterate_free_undoInfo(void *holder);
}

namespace {

std::string logged; // "<priority>:<text>" of every message

int on_log(int, int, void *message, void *) {
    auto *m = static_cast<snmp_log_message *>(message);
    logged += std::to_string(m->priority) + ":" + m->msg;
    return 0;
}

const std::vector<fake::Table> &reference() {
    static bool loaded = [] {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, on_log, nullptr);
        snmp_enable_calllog();
        init_agent("qvunit");
        fake::load(QV_REFERENCE_DIR);
        return true;
    }();
    return loaded ? fake::tables : fake::tables;
}

uint32_t count_of(const void *record) {
    uint32_t count;
    memcpy(&count, static_cast<const uint8_t *>(record) - 4, 4);
    return count;
}

// A request list as the table helper and the iterator leave it for the handler.
struct Requests {
    const fake::Table &table;
    netsnmp_agent_request_info info{};
    std::vector<netsnmp_request_info> list;
    std::vector<netsnmp_table_request_info> columns;

    Requests(const fake::Table &t, int mode) : table(t) {
        info.mode = mode;
        list.reserve(64); // the data lists point into `columns`
        columns.reserve(64);
    }
    ~Requests() {
        for (auto &r : list) {
            netsnmp_free_request_data_sets(&r);
            snmp_free_varbind(r.requestvb);
        }
    }
    // column -1: no table information
    void add(void *row, int column, bool processed = false) {
        netsnmp_request_info &r = list.emplace_back();
        r.processed = processed;
        snmp_varlist_add_variable(&r.requestvb, nullptr, 0, ASN_NULL, nullptr, 0);
        if (row) netsnmp_request_add_list_data(&r, netsnmp_create_data_list(TABLE_ITERATOR_NAME, row, nullptr));
        columns.emplace_back().colnum = unsigned(column);
        if (column >= 0)
            netsnmp_request_add_list_data(&r, netsnmp_create_data_list(TABLE_HANDLER_NAME, &columns.back(), nullptr));
    }
    int run() {
        for (size_t i = 0; i + 1 < list.size(); ++i) list[i].next = &list[i + 1];
        return table.handler(nullptr, nullptr, &info, list.data());
    }
};

class Module : public ::testing::Test {
protected:
    void SetUp() override {
        reference();
        fake::reset();
        logged.clear();
    }
    void TearDown() override {
        EXPECT_EQ(fake::live(), 0u) << "row blocks left";
        for (const auto &p : fake::problems) ADD_FAILURE() << p;
    }
};

class Tables : public Module, public ::testing::WithParamInterface<size_t> {
protected:
    const fake::Table &t() const { return fake::tables[GetParam()]; }
    // Every byte non-zero, different per row.
    std::vector<uint8_t> record(unsigned salt) const {
        std::vector<uint8_t> r(t().size + 1); // a NUL past the record keeps a runaway string measurement defined
        for (size_t i = 0; i < t().size; ++i) r[i] = uint8_t(1 + (i * 31 + salt * 101) % 255);
        return r;
    }
};

// Walk scripts: F first-row, N next-row, K make-data-context of the current
// row, D free-data-context of the oldest kept row, L the agent stops the walk
// (free-loop-context-at-end), x the next allocation fails.
struct Walk {
    const char *name;
    int rows, failing_row;
    const char *script, *events;
};
const Walk walks[] = {
    {"empty source", 0, 0, "F", "mgf"},
    {"one row", 1, 0, "FN", "mgmRnf"},
    {"kept rows outlive the walk", 3, 0, "FKNNKKNDDD", "mgmrnmRnmrnfRrR"},
    {"walk stopped on a kept row", 3, 0, "FNKLD", "mgmRnrR"},
    {"walk stopped on an unkept row", 3, 0, "FL", "mgR"},
    {"data source fails on row 2", 3, 2, "FN", "mgmRnf"},
    {"data source fails on row 1", 3, 1, "F", "mgf"},
    {"allocation fails for the first row", 2, 0, "xF", "x"},
    {"allocation fails for a later row", 3, 0, "FKxND", "mgxrR"},
    {"null loop context", 1, 0, "NK", ""},
};

TEST_P(Tables, WalksKeepTheRowBlockRules) {
    for (const Walk &w : walks) {
        SCOPED_TRACE(w.name);
        fake::reset();
        for (int r = 1; r <= w.rows; ++r)
            fake::rows[GetParam()].push_back({record(unsigned(r)), uint32_t(10 * r + 3), r == w.failing_row ? -7 : 0});
        netsnmp_variable_list *indexes = nullptr;
        snmp_varlist_add_variable(&indexes, nullptr, 0, ASN_INTEGER, nullptr, 0);
        if (t().mac_index) snmp_varlist_add_variable(&indexes, nullptr, 0, ASN_OCTET_STR, nullptr, 0);
        void *loop = nullptr, *data = &loop;
        std::deque<void *> kept;
        for (const char *s = w.script; *s; ++s) {
            netsnmp_variable_list *row = nullptr;
            if (*s == 'x') fake::fail_at = 1;
            if (*s == 'L') t().loop_free(std::exchange(loop, nullptr), nullptr);
            if (*s == 'D') t().data_free(kept.front(), nullptr);
            if (*s == 'D') kept.pop_front();
            if (*s == 'K') {
                const uint32_t before = loop ? count_of(loop) : 0;
                EXPECT_EQ(t().keep(loop, nullptr), loop) << "the data context is the loop context";
                if (loop) kept.push_back(loop);
                if (loop) EXPECT_EQ(count_of(loop), before + 1);
            }
            if (*s == 'F' || *s == 'N') row = (*s == 'F' ? t().first : t().next)(&loop, &data, indexes, nullptr);
            if (*s != 'F' && *s != 'N') continue;
            EXPECT_EQ(data, &loop) << "the data-context argument is not the callback's to write";
            if (!row) {
                EXPECT_EQ(loop, nullptr);
                continue;
            }
            ASSERT_EQ(row, indexes);
            ASSERT_EQ(loop, fake::filled) << "the loop context is the record the data source filled";
            EXPECT_EQ(count_of(loop), 1u);
            // Association rows: record bytes 0-3, then 4-9; the others: the cursor after the record.
            const auto *rec = static_cast<const uint8_t *>(loop);
            int32_t first;
            memcpy(&first, t().mac_index ? rec : rec + t().size, 4);
            EXPECT_EQ(*indexes->val.integer, first);
            if (t().mac_index)
                EXPECT_EQ(std::string(indexes->next_variable->val.string, indexes->next_variable->val.string +
                                                                              indexes->next_variable->val_len),
                          std::string(rec + 4, rec + 10));
        }
        snmp_free_varbind(indexes);
        EXPECT_EQ(fake::events, w.events);
        EXPECT_EQ(fake::live(), 0u);
    }
}

// Strings: half full with bytes of any value, empty (with all-ones numbers),
// the whole room but its NUL, no NUL in the room at all.
TEST_P(Tables, EveryColumnAnswersItsFieldByteForByte) {
    for (unsigned variant = 0; variant < 4; ++variant) {
        SCOPED_TRACE(variant);
        std::vector<uint8_t> rec = record(variant);
        if (variant == 1) memset(rec.data(), 0xff, t().size);
        for (const auto &c : t().columns)
            if (c.value == "string" && variant != 3) rec[c.offset + (variant == 0 ? c.room / 2 : variant == 1 ? 0 : c.room - 1)] = 0;
        Requests r(t(), MODE_GET);
        for (const auto &c : t().columns) r.add(rec.data(), int(c.number));
        EXPECT_EQ(r.run(), SNMP_ERR_NOERROR);
        for (size_t i = 0; i < t().columns.size(); ++i)
            EXPECT_TRUE(fake::answers(t().columns[i], rec.data(), r.list[i].requestvb)) << "column " << i + 1;
        EXPECT_EQ(logged, "");
    }
}

// Requests: [p]rocessed, r with a row or - without, then the column: 1, L the
// last, 0, M one past the last, x no table information. Expected per request:
// v its value, n noSuchInstance, . untouched.
struct Rule {
    int mode;
    const char *requests, *expected, *message;
    int messages;
};
const Rule rules[] = {
    {MODE_GET, "r1 -1 rL", "vnv", "", 0},
    {MODE_GET, "-x", "n", "", 0},
    {MODE_GET, "p-1 pr1 rx r0 rM rL", ".....v", "unknown column", 2},
    {MODE_GETNEXT, "r1 -L rx pr1", "....", "unsupported mode", 2},
    {MODE_SET_RESERVE1, "r1 rM", "..", "unsupported mode", 2},
};

TEST_P(Tables, HandlerRules) {
    std::vector<uint8_t> rec = record(1);
    for (const Rule &rule : rules) {
        SCOPED_TRACE(rule.requests);
        logged.clear();
        Requests r(t(), rule.mode);
        std::vector<int> columns;
        std::istringstream in(rule.requests);
        for (std::string q; in >> q;) {
            const bool processed = q[0] == 'p';
            if (processed) q.erase(0, 1);
            const char c = q[1];
            columns.push_back(c == 'L' ? int(t().last) : c == 'M' ? int(t().last) + 1 : c == 'x' ? -1 : c - '0');
            r.add(q[0] == 'r' ? rec.data() : nullptr, columns.back(), processed);
        }
        EXPECT_EQ(r.run(), SNMP_ERR_NOERROR);
        for (size_t i = 0; i < columns.size(); ++i) {
            const netsnmp_variable_list *vb = r.list[i].requestvb;
            if (rule.expected[i] == 'v')
                EXPECT_TRUE(fake::answers(t().columns[size_t(columns[i] - 1)], rec.data(), vb)) << i;
            else
                EXPECT_EQ(vb->type, rule.expected[i] == 'n' ? SNMP_NOSUCHINSTANCE : ASN_NULL) << i;
        }
        std::string want;
        for (int i = 0; i < rule.messages; ++i)
            want += "3:problem encountered in " + t().name + "_handler: " + rule.message + "\n";
        EXPECT_EQ(logged, want);
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Tables, ::testing::Range<size_t>(0, 5),
                         [](const auto &p) { return reference()[p.param].name; });

// ---- start-up, as the agent's registration calls see it --------------------

struct Registered {
    netsnmp_handler_registration *reg;
    std::string name;
    std::vector<oid> root;
    int modes;
    Netsnmp_Node_Handler *handler; // the only handler handed over
    netsnmp_iterator_info *iinfo, iinfo_copy;
    std::vector<u_char> index_types;
    unsigned min_column, max_column;
};
std::vector<Registered> registered;
unsigned creates, fail_create; // the Nth creation of a registration fails

} // namespace

extern "C" {
int __real_netsnmp_register_table_iterator(netsnmp_handler_registration *, netsnmp_iterator_info *);
netsnmp_handler_registration *__real_netsnmp_create_handler_registration(const char *, Netsnmp_Node_Handler *,
                                                                         const oid *, size_t, int);
void __real_netsnmp_handler_registration_free(netsnmp_handler_registration *);

int __wrap_netsnmp_register_table_iterator(netsnmp_handler_registration *reg, netsnmp_iterator_info *iinfo) {
    Registered r{reg, reg->handlerName, {reg->rootoid, reg->rootoid + reg->rootoid_len}, reg->modes,
                 reg->handler->next ? nullptr : reg->handler->access_method, iinfo, *iinfo, {},
                 iinfo->table_reginfo->min_column, iinfo->table_reginfo->max_column};
    for (auto *v = iinfo->table_reginfo->indexes; v; v = v->next_variable) r.index_types.push_back(v->type);
    registered.push_back(r);
    return __real_netsnmp_register_table_iterator(reg, iinfo);
}
netsnmp_handler_registration *__wrap_netsnmp_create_handler_registration(const char *name, Netsnmp_Node_Handler *h,
                                                                         const oid *root, size_t len, int modes) {
    const bool fail = ++creates == fail_create;
    fake::events += fail ? 'X' : 'h';
    return fail ? nullptr : __real_netsnmp_create_handler_registration(name, h, root, len, modes);
}
void __wrap_netsnmp_handler_registration_free(netsnmp_handler_registration *reg) {
    fake::events += 'H';
    __real_netsnmp_handler_registration_free(reg);
}
}

namespace {

class Startup : public Module {
protected:
    void SetUp() override {
        Module::SetUp();
        clear();
    }
    void TearDown() override {
        clear();
        snmp_set_do_debugging(0);
        Module::TearDown();
    }
    static void clear() {
        for (const auto &r : registered) netsnmp_unregister_handler(r.reg);
        registered.clear();
        creates = fail_create = 0;
    }
};

TEST_F(Startup, RegistersTheFiveTablesReadOnlyInOrderAndWritesNothing) {
    init_qv_if_iterate();
    qv_if_scalar();
    EXPECT_EQ(fake::events, "cchcchcchcchcch") << "table information, iterator information, registration";
    ASSERT_EQ(registered.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        const fake::Table &t = fake::tables[i];
        const Registered &r = registered[i];
        SCOPED_TRACE(t.name);
        EXPECT_EQ(r.name, t.name);
        EXPECT_EQ(r.root, (std::vector<oid>{1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1, t.arc}));
        EXPECT_EQ(r.modes, HANDLER_CAN_RONLY);
        EXPECT_EQ(r.handler, t.handler);
        netsnmp_iterator_info want{};
        want.get_first_data_point = t.first;
        want.get_next_data_point = t.next;
        want.make_data_context = t.keep;
        want.free_data_context = t.data_free;
        want.free_loop_context_at_end = t.loop_free;
        want.table_reginfo = static_cast<netsnmp_table_registration_info *>(fake::allocs[2 * i]);
        EXPECT_EQ(memcmp(&want, &r.iinfo_copy, sizeof want), 0) << "five callbacks and the table information, nothing else";
        EXPECT_EQ(r.iinfo, fake::allocs[2 * i + 1]);
        const std::vector<u_char> types = {ASN_INTEGER, ASN_OCTET_STR};
        EXPECT_EQ(r.index_types, std::vector<u_char>(types.begin(), types.begin() + (t.mac_index ? 2 : 1)));
        EXPECT_EQ(r.min_column, 1u);
        EXPECT_EQ(r.max_column, t.last);
    }
    EXPECT_EQ(logged, "") << "with debugging off start-up writes nothing";
}

// Each of the three things a table's registration needs fails in turn.
TEST_F(Startup, ATableThatCannotBeBuiltIsLoggedFreedAndLeftOut) {
    const char *const failing_events[] = {"xchHf", "cxhHf", "ccXff"};
    for (size_t k = 0; k < 5; ++k)
        for (unsigned step = 0; step < 3; ++step) {
            const std::string &name = fake::tables[k].name;
            SCOPED_TRACE(name + " step " + std::to_string(step));
            clear();
            fake::reset();
            logged.clear();
            if (step < 2) fake::fail_at = unsigned(2 * k + step + 1);
            else fail_create = unsigned(k + 1);
            init_qv_if_iterate();
            std::string events, want, got;
            for (size_t i = 0; i < 5; ++i) {
                events += i == k ? failing_events[step] : "cch";
                if (i != k) want += fake::tables[i].name + " ";
            }
            for (const auto &r : registered) got += r.name + " ";
            EXPECT_EQ(fake::events, events);
            EXPECT_EQ(got, want);
            EXPECT_EQ(logged, "3:malloc failed in initialize_table_" + name);
        }
}

TEST_F(Startup, DebugOutputIsTheTraceLineThenTheMessage) {
    debug_register_tokens("trace,initialize_table_,qv_if_scalar");
    snmp_set_do_debugging(1);
    logged.clear();
    init_qv_if_iterate();
    qv_if_scalar();
    // The agent library's own trace lines (tokens not enabled) are not the module's.
    logged = std::regex_replace(logged, std::regex("7:trace: 7:(?!initialize_table_|qv_if_scalar)[^\n]*\n"), "");
    std::string want;
    auto traced = [&](const std::string &function, const std::string &message) {
        want += "7:trace: 7:" + function + "\\(\\): src/[^,]+, [0-9]+:\n7:" + function + ": 7:" + message;
    };
    for (const auto &t : fake::tables)
        traced("initialize_table_" + t.name, "Registering table " + t.name + " as a table iterator\n");
    traced("qv_if_scalar", "Initializing\n");
    EXPECT_TRUE(std::regex_match(logged, std::regex(want))) << logged;
}

TEST_F(Module, UndoInfoAndTheUninstalledCallbacksDoWhatTheySay) {
    qv_if_iterate_free_undoInfo(nullptr);
    auto **holder = static_cast<void **>(malloc(2 * sizeof(void *)));
    auto **empty = static_cast<void **>(malloc(sizeof(void *)));
    void *member = malloc(8);
    holder[0] = member;
    empty[0] = nullptr;
    qv_if_iterate_free_undoInfo(holder);
    qv_if_iterate_free_undoInfo(empty);
    EXPECT_EQ(fake::frees, (std::vector<void *>{member, holder, empty}));
    for (const auto &t : fake::tables) {
        auto create = reinterpret_cast<void *(*)(void *, void *)>(fake::symbol(t.name + "_create_data_context"));
        auto commit = reinterpret_cast<int (*)(void *, void *)>(fake::symbol(t.name + "_commit_row"));
        ASSERT_TRUE(create && commit) << t.name;
        EXPECT_EQ(create(member, member), nullptr);
        EXPECT_EQ(commit(member, member), 0);
    }
    EXPECT_EQ(fake::events, "mmmfff");
}

} // namespace
