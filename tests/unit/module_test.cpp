// SPDX-License-Identifier: BSD-3-Clause
// The module's objects in process with the real Net-SNMP agent library: every
// table's iteration callbacks and handler run through scenarios, start-up is
// watched through --wrap of the agent's registration calls. Expected facts
// come from tests/reference; every log and debug text is compared whole.
#include <gtest/gtest.h>
#include <string.h>

#include <regex>
#include <sstream>

#include "core/qv_if_iterate.h"
#include "fake_source.h"

namespace {

using fake::tables;

std::vector<netsnmp_handler_registration *> registered;
unsigned fail_create; // the Nth creation of a handler registration from now fails

class Module : public ::testing::Test {
  protected:
    void SetUp() override { fake::load(QV_REFERENCE_DIR), clear(); }
    void TearDown() override {
        EXPECT_EQ(fake::live(), 0u) << "row blocks left";
        for (const auto &p : fake::problems) ADD_FAILURE() << p;
        clear(), snmp_set_do_debugging(0);
    }
    static void clear() {
        for (auto *reg : registered) netsnmp_unregister_handler(reg);
        registered.clear(), fake::reset(), fail_create = 0;
    }
};

class Tables : public Module, public ::testing::WithParamInterface<size_t> {
  protected:
    const fake::Table &t() const { return tables[GetParam()]; }
    std::vector<uint8_t> record(unsigned salt) const { // every byte non-zero, and a NUL after the record
        std::vector<uint8_t> r(t().size + 1);
        for (size_t i = 0; i < t().size; ++i) r[i] = uint8_t(1 + (i * 31 + salt * 101) % 255);
        return r;
    }
};

// Walks: tests/unit/walks.tsv
TEST_P(Tables, WalksKeepTheRowBlockRules) {
    for (const auto &w : fake::tsv(QV_UNIT_DIR "/walks.tsv")) {
        SCOPED_TRACE(w[0]);
        fake::reset();
        for (int r = 1; r <= std::stoi(w[1]); ++r)
            fake::rows[GetParam()].push_back(
                {record(unsigned(r)), uint32_t(10 * r + 3), r == std::stoi(w[2]) ? -7 : 0});
        EXPECT_TRUE(fake::walk(t(), w[3]).empty() && fake::live() == 0) << "rows kept or blocks left";
        EXPECT_EQ(fake::events, w[4] == "-" ? "" : w[4]);
        EXPECT_EQ(fake::problems, std::vector<std::string>{});
    }
}

// Requests, the record, expected answers and log texts: tests/unit/rules.tsv.
// Record strings: 0 half full with bytes of any value, 1 empty (with all-ones
// numbers), 2 the whole room but its NUL, 3 no NUL in the room at all.
TEST_P(Tables, HandlerRules) {
    for (const auto &rule : fake::tsv(QV_UNIT_DIR "/rules.tsv")) {
        SCOPED_TRACE(rule[1] + " record " + rule[2]);
        const int variant = std::stoi(rule[2]);
        std::vector<uint8_t> rec = record(unsigned(variant));
        if (variant == 1) memset(rec.data(), 0xff, t().size);
        for (const auto &c : t().columns)
            if (c.value == "string" && variant != 3)
                rec[c.offset + (variant == 0 ? c.room / 2 : variant == 1 ? 0 : c.room - 1)] = 0;
        fake::logged.clear();
        fake::Requests r;
        std::string expected;
        std::stringstream requests(rule[1]);
        for (std::string q; requests >> q;) {
            const int last = int(t().last);
            const int column = std::vector<int>{1, 0, last, last + 1, -1, 1}[strchr("10LMxA", q[2]) - "10LMxA"];
            for (int c = column; c <= (q[2] == 'A' ? last : column); ++c) {
                r.add(q[1] == 'r' ? rec.data() : nullptr, c, q[0] == 'p');
                expected += q[3];
            }
        }
        EXPECT_EQ(r.run(t(), std::stoi(rule[0])), SNMP_ERR_NOERROR);
        for (size_t i = 0; i < r.n; ++i) {
            const netsnmp_variable_list *vb = r.list[i].requestvb;
            EXPECT_TRUE(expected[i] == 'v' ? fake::answers(t().columns[r.columns[i].colnum - 1], rec.data(), vb)
                                           : vb->type == (expected[i] == 'n' ? SNMP_NOSUCHINSTANCE : ASN_NULL))
                << i;
        }
        const std::string message = "3:problem encountered in " + t().name + "_handler: " + rule[3] + "\n";
        EXPECT_EQ(fake::logged, rule[3] != "-" ? message + message : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Tables, ::testing::Range<size_t>(0, 5),
                         [](const auto &p) { return (fake::load(QV_REFERENCE_DIR), tables[p.param].name); });

// ---- start-up, as the agent's registration calls see it --------------------

void check_registration(const fake::Table &t, netsnmp_handler_registration *reg, netsnmp_iterator_info *iinfo) {
    EXPECT_EQ(std::vector<oid>(reg->rootoid, reg->rootoid + reg->rootoid_len),
              (std::vector<oid>{1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1, t.arc}));
    EXPECT_EQ(reg->modes, HANDLER_CAN_RONLY);
    EXPECT_TRUE(reg->handler->access_method == t.handler && !reg->handler->next) << "the table's handler alone";
    netsnmp_iterator_info want = t.callbacks;
    want.table_reginfo = static_cast<netsnmp_table_registration_info *>(fake::allocs.end()[-2]);
    EXPECT_EQ(memcmp(&want, iinfo, sizeof want), 0) << "five callbacks and the table information, nothing else";
    std::string types;
    for (auto *v = iinfo->table_reginfo->indexes; v; v = v->next_variable) types += std::to_string(v->type) + " ";
    EXPECT_EQ(types, t.mac_index ? "2 4 " : "2 ");
    EXPECT_TRUE(iinfo->table_reginfo->min_column == 1 && iinfo->table_reginfo->max_column == t.last);
}

} // namespace

extern "C" {
int __real_netsnmp_register_table_iterator(netsnmp_handler_registration *, netsnmp_iterator_info *);
netsnmp_handler_registration *__real_netsnmp_create_handler_registration(const char *, Netsnmp_Node_Handler *,
                                                                         const oid *, size_t, int);
void __real_netsnmp_handler_registration_free(netsnmp_handler_registration *);

int __wrap_netsnmp_register_table_iterator(netsnmp_handler_registration *reg, netsnmp_iterator_info *iinfo) {
    registered.push_back(reg);
    fake::events += "[" + std::string(reg->handlerName) + "]";
    for (const auto &t : tables)
        if (t.name == reg->handlerName) check_registration(t, reg, iinfo);
    return __real_netsnmp_register_table_iterator(reg, iinfo);
}
netsnmp_handler_registration *__wrap_netsnmp_create_handler_registration(const char *name, Netsnmp_Node_Handler *h,
                                                                         const oid *root, size_t len, int modes) {
    const bool fail = fail_create && --fail_create == 0;
    fake::events += fail ? 'X' : 'h';
    return fail ? nullptr : __real_netsnmp_create_handler_registration(name, h, root, len, modes);
}
void __wrap_netsnmp_handler_registration_free(netsnmp_handler_registration *reg) {
    fake::events += 'H';
    __real_netsnmp_handler_registration_free(reg);
}
}

namespace {

// Each of the three things a table's registration needs fails in turn; k = 5: none.
// With debug output on, each table registered logs the trace line then the message.
TEST_F(Module, StartUpRegistersEveryTableItCanBuildInOrderAndLogsTheOthers) {
    const char *const failing[] = {"xchHf", "cxhHf", "ccXff"};
    debug_register_tokens("trace,initialize_table_,qv_if_scalar");
    snmp_set_do_debugging(1);
    for (size_t k = 0; k <= 5; ++k)
        for (unsigned step = 0; step < (k < 5 ? 3 : 1); ++step) {
            SCOPED_TRACE(std::to_string(k) + " step " + std::to_string(step));
            clear();
            if (k < 5)
                (step < 2 ? fake::fail_at : fail_create) = step < 2 ? unsigned(2 * k + step + 1) : unsigned(k + 1);
            init_qv_if_iterate();
            qv_if_scalar();
            std::string events, log;
            auto traced = [&](const std::string &function, const std::string &message) {
                log += "7:trace: 7:" + function + "\\(\\): src/[^,]+, [0-9]+:\n7:" + function + ": 7:" + message;
            };
            for (size_t i = 0; i < 5; ++i) {
                const std::string &name = tables[i].name;
                events += i == k ? failing[step] : "cch[" + name + "]";
                if (i == k) log += "3:malloc failed in initialize_table_" + name;
                if (i != k) traced("initialize_table_" + name, "Registering table " + name + " as a table iterator\n");
            }
            traced("qv_if_scalar", "Initializing\n");
            EXPECT_EQ(fake::events, events) << "per table: table information, iterator information, registration";
            // The agent library's own trace lines (their tokens are off) are not the module's.
            const std::regex library_trace("7:trace: 7:(?!initialize_table_|qv_if_scalar).*\n");
            const std::string logged = std::regex_replace(fake::logged, library_trace, "");
            EXPECT_TRUE(std::regex_match(logged, std::regex(log))) << logged;
        }
}

TEST_F(Module, UndoInfoAndTheUninstalledCallbacksDoWhatTheySay) {
    qv_if_iterate_free_undoInfo(nullptr);
    auto **holder = static_cast<void **>(malloc(2 * sizeof(void *))), **empty = static_cast<void **>(malloc(8));
    void *member = holder[0] = malloc(8);
    empty[0] = nullptr;
    qv_if_iterate_free_undoInfo(holder);
    qv_if_iterate_free_undoInfo(empty);
    EXPECT_EQ(fake::frees, (std::vector<void *>{member, holder, empty}));
    for (const auto &t : tables) {
        auto create = reinterpret_cast<void *(*)(void *, void *)>(fake::symbol(t.name + "_create_data_context"));
        auto commit = reinterpret_cast<int (*)(void *, void *)>(fake::symbol(t.name + "_commit_row"));
        EXPECT_TRUE(create && commit && !create(member, member) && !commit(member, member)) << t.name;
    }
    EXPECT_EQ(fake::events, "mmmfff");
}

} // namespace
