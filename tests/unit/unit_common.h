/*
 * Shared pieces of the unit tests: the module's exported entry points,
 * declared here from the names the agent and the host look up (not from the
 * module's headers, so a misspelt export fails to link), one descriptor per
 * table, and the fixture that gives every test a fresh registry, a fresh fake
 * data source and a check that no row block outlives the test.
 */
#ifndef QV_UNIT_COMMON_H
#define QV_UNIT_COMMON_H

#include <gtest/gtest.h>

#include "agent_harness.h"
#include "fake_datasource.h"

extern "C" {
void init_qv_if_iterate(void);
void qv_if_scalar(void);
void qv_if_iterate_free_undoInfo(void *holder);

#define QV_UNIT_DECLARE_TABLE(table, make_ctx, free_data, free_loop)                                 \
    void initialize_table_##table(void);                                                            \
    Netsnmp_Node_Handler table##_handler;                                                            \
    Netsnmp_First_Data_Point table##_get_first_data_point;                                           \
    Netsnmp_Next_Data_Point table##_get_next_data_point;                                             \
    Netsnmp_Make_Data_Context make_ctx;                                                              \
    Netsnmp_Free_Data_Context free_data;                                                             \
    Netsnmp_Free_Loop_Context free_loop;                                                             \
    void *table##_create_data_context(void *, void *);                                               \
    int table##_commit_row(void *, void *);

QV_UNIT_DECLARE_TABLE(qvXIfTable, qvXIfTable_context_convert_function, XIfTable_data_free, XIfTable_loop_free)
QV_UNIT_DECLARE_TABLE(qvAssociationTable, qvAssociationTable_context_convert_function, AssoTable_data_free,
                      AssoTable_loop_free)
QV_UNIT_DECLARE_TABLE(qvRadioStatsTable, qvRadioStatsTable_context_convert_function, radioTable_data_free,
                      radioTable_loop_free)
QV_UNIT_DECLARE_TABLE(qvVIfStatsTable, qvVIfTable_context_convert_function, VIfTable_data_free, VIfTable_loop_free)
QV_UNIT_DECLARE_TABLE(qvRadioAttributeTable, qvRadioAttributeTable_context_convert_function,
                      qvRadioAttributeTable_data_free, qvRadioAttributeTable_loop_free)
#undef QV_UNIT_DECLARE_TABLE
}

namespace qvtest {

struct TableInfo {
    Table table;
    unsigned number; /* last sub-identifier of the root OID */
    const char *name;
    unsigned columns;
    void (*initialize)(void);
    Netsnmp_Node_Handler *handler;
    Netsnmp_First_Data_Point *first;
    Netsnmp_Next_Data_Point *next;
    Netsnmp_Make_Data_Context *make_data_context;
    Netsnmp_Free_Data_Context *free_data_context;
    Netsnmp_Free_Loop_Context *free_loop_context_at_end;
    void *(*create_data_context)(void *, void *);
    int (*commit_row)(void *, void *);
};

/* The five tables in registration order. */
inline const TableInfo (&tables())[5] {
    static const TableInfo all[5] = {
        {Table::XIf, 1, "qvXIfTable", 6, initialize_table_qvXIfTable,
         qvXIfTable_handler, qvXIfTable_get_first_data_point, qvXIfTable_get_next_data_point,
         qvXIfTable_context_convert_function, XIfTable_data_free, XIfTable_loop_free,
         qvXIfTable_create_data_context, qvXIfTable_commit_row},
        {Table::Ass, 2, "qvAssociationTable", 37,
         initialize_table_qvAssociationTable, qvAssociationTable_handler, qvAssociationTable_get_first_data_point,
         qvAssociationTable_get_next_data_point, qvAssociationTable_context_convert_function, AssoTable_data_free,
         AssoTable_loop_free, qvAssociationTable_create_data_context, qvAssociationTable_commit_row},
        {Table::RadioStats, 3, "qvRadioStatsTable", 23,
         initialize_table_qvRadioStatsTable, qvRadioStatsTable_handler, qvRadioStatsTable_get_first_data_point,
         qvRadioStatsTable_get_next_data_point, qvRadioStatsTable_context_convert_function, radioTable_data_free,
         radioTable_loop_free, qvRadioStatsTable_create_data_context, qvRadioStatsTable_commit_row},
        {Table::VIf, 4, "qvVIfStatsTable", 18, initialize_table_qvVIfStatsTable,
         qvVIfStatsTable_handler, qvVIfStatsTable_get_first_data_point, qvVIfStatsTable_get_next_data_point,
         qvVIfTable_context_convert_function, VIfTable_data_free, VIfTable_loop_free,
         qvVIfStatsTable_create_data_context, qvVIfStatsTable_commit_row},
        {Table::RadioAttr, 5, "qvRadioAttributeTable", 3,
         initialize_table_qvRadioAttributeTable, qvRadioAttributeTable_handler,
         qvRadioAttributeTable_get_first_data_point, qvRadioAttributeTable_get_next_data_point,
         qvRadioAttributeTable_context_convert_function, qvRadioAttributeTable_data_free,
         qvRadioAttributeTable_loop_free, qvRadioAttributeTable_create_data_context,
         qvRadioAttributeTable_commit_row},
    };
    return all;
}

inline const TableInfo &table_info(Table t) { return tables()[static_cast<int>(t)]; }

inline void PrintTo(const TableInfo &t, std::ostream *os) { *os << t.name; }

/* Names a TableInfo parameter by its table name. */
struct TableName {
    std::string operator()(const ::testing::TestParamInfo<TableInfo> &p) const { return p.param.name; }
};

/*
 * Every test: the agent library initialised once, the module's five tables
 * registered afresh, the fake emptied and recording; at the end no row block
 * may be alive and the fake must have seen no contract violation.
 */
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        agent::init();
        snmp_set_do_debugging(0);
        fake::reset();
        agent::unregister_module();
        register_on_setup();
        agent::clear_log();
        fake::record(true);
    }

    void TearDown() override {
        fake::record(false);
        alloc::disarm();
        snmp_set_do_debugging(0);
        EXPECT_EQ(fake::live_blocks(), 0u) << "row blocks left alive";
        for (const auto &v : fake::violations()) ADD_FAILURE() << "data-source contract: " << v;
    }

    virtual void register_on_setup() { agent::register_module(); }

    /* Errors the module (or the agent) wrote to the log at LOG_ERR or worse. */
    static std::string errors_logged() { return agent::log_text(LOG_ERR); }
};

/* Index list as the iterator hands it to the first/next callbacks. */
netsnmp_variable_list *index_list(Table t);

/* An entry whose record carries the offset pattern, with the given cursor. */
Entry pattern_entry(Table t, uint32_t cursor);

/* Position of the first event of `kind` at or after `from` matching `pred`, or -1. */
template <typename Pred> long find_event(Ev kind, Pred pred, size_t from = 0) {
    const auto &ev = fake::events();
    for (size_t i = from; i < ev.size(); ++i)
        if (ev[i].kind == kind && pred(ev[i])) return static_cast<long>(i);
    return -1;
}

} // namespace qvtest

#endif
