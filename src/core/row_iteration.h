/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * Row snapshots: one malloc'd ref-mem block per fetched row, laid out as
 * [32-bit count][record][32-bit cursor] (the kit's row-block helpers). Every
 * row pointer handed to the agent is the record's address; the data source's
 * qv_free_ref_mem drops references.
 *
 * These run once per row for every pass the agent's iterator makes over a
 * table, so they are inline: each table's entry points are compiled against
 * its constant TableDef, leaving no indirect call or loop over index parts
 * per row.
 */
#ifndef QV_ROW_ITERATION_H
#define QV_ROW_ITERATION_H

#include "core/qv_if_iterate.h"

#include <stdlib.h>

namespace qv {
namespace row {

inline size_t block_size(const TableDef &table) { return sizeof(uint32_t) + table.record_size + sizeof(uint32_t); }

inline void *record_of_block(void *block) { return static_cast<unsigned char *>(block) + sizeof(uint32_t); }

inline uint32_t *cursor_of(const TableDef &table, void *record) {
    return qv_wlan_block_cursor(record, table.record_size);
}

inline void set_indexes(const TableDef &table, void *record, netsnmp_variable_list *indexes) {
    // The agent's index list has one variable for each registered index type.
    for (size_t i = 0; i < table.index_count; ++i, indexes = indexes->next_variable)
        snmp_set_var_value(indexes, static_cast<unsigned char *>(record) + table.index[i].offset,
                           table.index[i].length);
}

// Hands a freshly filled row to the walk: count 1, loop context = record.
inline netsnmp_variable_list *take_row(const TableDef &table, void *record, void **loop_context,
                                       netsnmp_variable_list *indexes) {
    *qv_wlan_block_count(record) = 1;
    *loop_context = record;
    set_indexes(table, record, indexes);
    return indexes;
}

} // namespace row

inline netsnmp_variable_list *first_row(const TableDef &table, void **loop_context, netsnmp_variable_list *indexes) {
    using namespace row;
    void *block = malloc(block_size(table));
    if (!block) {
        *loop_context = nullptr;
        return nullptr;
    }
    void *record = record_of_block(block);
    if (table.first(cursor_of(table, record), record) != 0) {
        free(block); // never seen by the agent, never counted
        *loop_context = nullptr;
        return nullptr;
    }
    return take_row(table, record, loop_context, indexes);
}

inline netsnmp_variable_list *next_row(const TableDef &table, void **loop_context, netsnmp_variable_list *indexes) {
    using namespace row;
    void *previous = *loop_context;
    if (!previous) return nullptr;

    // The new block exists before the previous row is released, and the
    // cursor is copied before that release: the previous block may be freed.
    void *block = malloc(block_size(table));
    if (!block) {
        qv_free_ref_mem(previous);
        *loop_context = nullptr;
        return nullptr;
    }
    void *record = record_of_block(block);
    *cursor_of(table, record) = *cursor_of(table, previous);
    qv_free_ref_mem(previous);

    if (table.next(cursor_of(table, record), record) != 0) {
        free(block);
        *loop_context = nullptr;
        return nullptr;
    }
    return take_row(table, record, loop_context, indexes);
}

inline void *keep_row(void *loop_context) {
    if (!loop_context) return nullptr;
    uint32_t *count = qv_wlan_block_count(loop_context);
    *count = *count + 1;
    return loop_context;
}

inline void release_row(void *context) {
    // The agent never passes a null context here; ignoring one costs nothing.
    if (context) qv_free_ref_mem(context);
}

} // namespace qv

/* ---- One table's definition and entry points, from its registration line. ---- */

#define QV_DEFINE_ACCESSOR(R, number, object, value_type, offset)                                          \
    extern "C" const void *get_##object(const void *record, size_t *length) {                              \
        return qv::field_value<qv::ValueType::value_type>(static_cast<const R *>(record)->object, length); \
    }
#define QV_COLUMN_ENTRY(R, number, object, value_type, offset) \
    {number, get_##object, qv::asn_type(qv::ValueType::value_type)},
#define QV_ASSERT_COLUMN_LISTED(R, number, object, value_type, offset)      \
    static_assert(qv::listed_at(columns, number) == get_##object,           \
                  #object " is column " #number " but not on line " #number \
                          " of the column list: list the columns in number order");
#define QV_INDEX_FIELD(R, field, value_type) \
    {offsetof(R, field), sizeof(static_cast<R *>(nullptr)->field), qv::asn_type(qv::ValueType::value_type)},
#define QV_INDEX_CURSOR(R) {sizeof(R), sizeof(uint32_t), ASN_INTEGER},

#define QV_DEFINE_TABLE(table, arc, kind, R, COLUMNS, INDEX, make_ctx, free_data, free_loop)                          \
    COLUMNS(QV_DEFINE_ACCESSOR, R)                                                                                    \
    namespace {                                                                                                       \
    constexpr qv::Column columns[] = {COLUMNS(QV_COLUMN_ENTRY, R)};                                                   \
    constexpr qv::IndexPart index[] = {INDEX(QV_INDEX_FIELD, QV_INDEX_CURSOR, R)};                                    \
    COLUMNS(QV_ASSERT_COLUMN_LISTED, R)                                                                               \
    static_assert(sizeof index / sizeof index[0] <= 2, "registration passes at most two index types");                \
    static_assert(std::is_same<decltype(qv::record_of(qv_wlan_get_first_##kind)), R *>::value &&                      \
                      std::is_same<decltype(qv::record_of(qv_wlan_get_next_##kind)), R *>::value,                     \
                  "the entry kind's functions fill another record");                                                  \
    static_assert(qv::ends_with(#make_ctx, "_context_convert_function") && qv::ends_with(#free_data, "_data_free") && \
                      qv::ends_with(#free_loop, "_loop_free"),                                                        \
                  "callback names given in the wrong order");                                                         \
    constexpr qv::TableDef def = {#table,                                                                             \
                                  {1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1, arc},                                      \
                                  sizeof(R),                                                                          \
                                  qv::fetch<qv_wlan_get_first_##kind>,                                                \
                                  qv::fetch<qv_wlan_get_next_##kind>,                                                 \
                                  index,                                                                              \
                                  sizeof index / sizeof index[0],                                                     \
                                  columns,                                                                            \
                                  sizeof columns / sizeof columns[0],                                                 \
                                  table##_handler,                                                                    \
                                  table##_get_first_data_point,                                                       \
                                  table##_get_next_data_point,                                                        \
                                  make_ctx,                                                                           \
                                  free_data,                                                                          \
                                  free_loop};                                                                         \
    }                                                                                                                 \
    extern "C" void initialize_table_##table(void) {                                                                  \
        qv::PendingRegistration pending;                                                                              \
        if (!qv::prepare_registration(def, &pending)) return;                                                         \
        DEBUGMSGTL(("initialize_table_" #table, "Registering table " #table " as a table iterator\n"));               \
        qv::complete_registration(pending);                                                                           \
    }                                                                                                                 \
    extern "C" int table##_handler(netsnmp_mib_handler *, netsnmp_handler_registration *,                             \
                                   netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests) {             \
        return qv::handle_requests(def, reqinfo, requests);                                                           \
    }                                                                                                                 \
    extern "C" netsnmp_variable_list *table##_get_first_data_point(                                                   \
        void **loop_context, void **, netsnmp_variable_list *indexes, netsnmp_iterator_info *) {                      \
        return qv::first_row(def, loop_context, indexes);                                                             \
    }                                                                                                                 \
    extern "C" netsnmp_variable_list *table##_get_next_data_point(                                                    \
        void **loop_context, void **, netsnmp_variable_list *indexes, netsnmp_iterator_info *) {                      \
        return qv::next_row(def, loop_context, indexes);                                                              \
    }                                                                                                                 \
    extern "C" void *make_ctx(void *loop_context, netsnmp_iterator_info *) { return qv::keep_row(loop_context); }     \
    extern "C" void free_data(void *context, netsnmp_iterator_info *) { qv::release_row(context); }                   \
    extern "C" void free_loop(void *context, netsnmp_iterator_info *) { qv::release_row(context); }                   \
    extern "C" void *table##_create_data_context(void *, void *) { return nullptr; }                                  \
    extern "C" int table##_commit_row(void *, void *) { return 0; }

#endif /* QV_ROW_ITERATION_H */
