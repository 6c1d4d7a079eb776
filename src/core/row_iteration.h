/*
 * Row snapshots: one malloc'd ref-mem block per fetched row, laid out as
 * [32-bit count][record][32-bit cursor]. Every row pointer handed to the agent
 * is the record's address; the data source's qv_free_ref_mem drops references.
 *
 * These run once per row for every pass the agent's iterator makes over a
 * table, so they are inline: each table's entry points are compiled against
 * its constant TableDef, leaving no indirect call or index-style test per row.
 */
#ifndef QV_ROW_ITERATION_H
#define QV_ROW_ITERATION_H

#include "core/qv_if_iterate.h"

#include <stdlib.h>

namespace qv {
namespace row {

constexpr size_t count_size = sizeof(uint32_t);
constexpr size_t cursor_size = sizeof(uint32_t);

inline uint32_t *count_of(void *record) {
    return reinterpret_cast<uint32_t *>(static_cast<unsigned char *>(record) - count_size);
}

inline uint32_t *cursor_of(const TableDef &table, void *record) {
    return reinterpret_cast<uint32_t *>(static_cast<unsigned char *>(record) + table.record_size);
}

inline void *record_of_block(void *block) { return static_cast<unsigned char *>(block) + count_size; }

inline void set_indexes(const TableDef &table, void *record, netsnmp_variable_list *indexes) {
    if (table.index == IndexStyle::ClientAndMac) {
        const auto *entry = static_cast<const qv_wlan_ass_entry *>(record);
        snmp_set_var_value(indexes, &entry->first_index, sizeof entry->first_index);
        snmp_set_var_value(indexes->next_variable, entry->qvClientMac, sizeof entry->qvClientMac);
    } else {
        snmp_set_var_value(indexes, cursor_of(table, record), cursor_size);
    }
}

// Hands a freshly filled row to the walk: count 1, loop context = record.
inline netsnmp_variable_list *take_row(const TableDef &table, void *record, void **loop_context,
                                       netsnmp_variable_list *indexes) {
    *count_of(record) = 1;
    *loop_context = record;
    set_indexes(table, record, indexes);
    return indexes;
}

} // namespace row

inline netsnmp_variable_list *first_row(const TableDef &table, void **loop_context, netsnmp_variable_list *indexes) {
    using namespace row;
    void *block = malloc(count_size + table.record_size + cursor_size);
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
    void *block = malloc(count_size + table.record_size + cursor_size);
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
    uint32_t *count = row::count_of(loop_context);
    *count = *count + 1;
    return loop_context;
}

inline void release_row(void *context) {
    // The agent never passes a null context here; ignoring one costs nothing.
    if (context) qv_free_ref_mem(context);
}

} // namespace qv

#endif /* QV_ROW_ITERATION_H */
