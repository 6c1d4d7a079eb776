/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qv_if_iterate: the agent module's core and its exported interface.
 *
 * Each table is data: its header under tables/ holds the record, the column
 * list, the index and the registration line (names included, each written
 * once). QV_DEFINE_TABLE turns that line into a constant TableDef and the
 * table's exported entry points, which hand off to one shared implementation
 * of the row iteration (row_iteration.h), the request handler (handler.cpp)
 * and the registration (registration.cpp).
 */
#ifndef QV_IF_ITERATE_H
#define QV_IF_ITERATE_H

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <type_traits>

#include "datasource/qv_wlan_datasource.h"

/* The five tables, in registration order. */
#define QV_TABLES(T) \
    QV_XIF_TABLE(T) QV_ASSOCIATION_TABLE(T) QV_RADIO_STATS_TABLE(T) QV_VIF_STATS_TABLE(T) QV_RADIO_ATTRIBUTE_TABLE(T)

/* ---- Exported symbols: plain C names, the only ones the module exports. ---- */
#define QV_EXPORT __attribute__((visibility("default")))

#define QV_DECLARE_ACCESSOR(R, number, object, value_type, offset) \
    QV_EXPORT const void *get_##object(const void *record, size_t *length);

#define QV_DECLARE_TABLE(table, arc, kind, R, COLUMNS, INDEX, make_ctx, free_data, free_loop)                          \
    QV_EXPORT void initialize_table_##table(void);                                                                     \
    QV_EXPORT int table##_handler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *, \
                                  netsnmp_request_info *);                                                             \
    QV_EXPORT netsnmp_variable_list *table##_get_first_data_point(void **, void **, netsnmp_variable_list *,           \
                                                                  netsnmp_iterator_info *);                            \
    QV_EXPORT netsnmp_variable_list *table##_get_next_data_point(void **, void **, netsnmp_variable_list *,            \
                                                                 netsnmp_iterator_info *);                             \
    QV_EXPORT void *make_ctx(void *, netsnmp_iterator_info *);                                                         \
    QV_EXPORT void free_data(void *, netsnmp_iterator_info *);                                                         \
    QV_EXPORT void free_loop(void *, netsnmp_iterator_info *);                                                         \
    QV_EXPORT void *table##_create_data_context(void *, void *);                                                       \
    QV_EXPORT int table##_commit_row(void *, void *);                                                                  \
    COLUMNS(QV_DECLARE_ACCESSOR, R)

extern "C" {
QV_EXPORT void init_qv_if_iterate(void);
QV_EXPORT void qv_if_scalar(void);
QV_EXPORT void qv_if_iterate_free_undoInfo(void *holder);
QV_TABLES(QV_DECLARE_TABLE)
}

namespace qv {

/* How a column's field is stored; decides the value's length and SNMP type. */
enum class ValueType { String, Mac, IpAddress, Integer, Counter32 };

constexpr u_char asn_type(ValueType type) {
    switch (type) {
    case ValueType::String:
    case ValueType::Mac: return ASN_OCTET_STR;
    case ValueType::IpAddress: return ASN_IPADDRESS;
    case ValueType::Integer: return ASN_INTEGER;
    case ValueType::Counter32: return ASN_COUNTER;
    }
    return 0;
}

/* Stores the value's length and returns its address inside the record. A
 * string is measured within its room only, so a record whose string lacks a
 * NUL is answered with the whole room and nothing beyond it is read. */
template <ValueType T, typename Field>
inline const void *field_value(const Field &field, size_t *length) {
    if constexpr (T == ValueType::String) {
        *length = strnlen(field, sizeof(Field));
    } else {
        *length = sizeof(Field); // the record's layout checks fix each value type's field
    }
    return &field;
}

using Accessor = const void *(*)(const void *record, size_t *length);

struct Column {
    unsigned number;
    Accessor get;
    u_char type;
};

/* One index value: `length` bytes at `offset` from the record's start (the
 * cursor lies right after the record), given to the agent as `type`. */
struct IndexPart {
    size_t offset;
    size_t length;
    u_char type;
};

using FetchFn = int (*)(uint32_t *cursor, void *record);

constexpr size_t root_oid_length = 13;

struct TableDef {
    const char *name; /* registration name; also names the handler in messages */
    oid root[root_oid_length];
    size_t record_size;
    FetchFn first;
    FetchFn next;
    const IndexPart *index;
    size_t index_count;
    const Column *columns; /* columns[i].number == i + 1 */
    size_t column_count;
    Netsnmp_Node_Handler *handler;
    Netsnmp_First_Data_Point *first_row;
    Netsnmp_Next_Data_Point *next_row;
    Netsnmp_Make_Data_Context *make_data_context;
    Netsnmp_Free_Data_Context *free_data_context;
    Netsnmp_Free_Loop_Context *free_loop_context_at_end;
};

/* The accessor on the list's line `number` (counted from 1), null past the
 * end: a column sits there exactly when the list is in number order. */
template <size_t N>
constexpr Accessor listed_at(const Column (&columns)[N], unsigned number) {
    return number >= 1 && number <= N ? columns[number - 1].get : nullptr;
}

constexpr bool ends_with(const char *text, const char *suffix) {
    size_t t = 0, s = 0;
    while (text[t]) ++t;
    while (suffix[s]) ++s;
    if (s > t) return false;
    for (size_t i = 0; i < s; ++i)
        if (text[t - s + i] != suffix[i]) return false;
    return true;
}

/* Calls a data-source function on a block's cursor and record. Parameters
 * after the record are reserved and always get 1 (the association kind's
 * first function has one). */
template <typename R, typename... Reserved>
inline int call_fetch(int (*fetch)(uint32_t *, R *, Reserved...), uint32_t *cursor, void *record) {
    return fetch(cursor, static_cast<R *>(record), Reserved(1)...);
}
template <auto Fetch>
int fetch(uint32_t *cursor, void *record) {
    return call_fetch(Fetch, cursor, record);
}
template <typename R, typename... Reserved>
R *record_of(int (*)(uint32_t *, R *, Reserved...));

/* Request handling. */
int handle_requests(const TableDef &table, netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests);

/* Registration, split so that the table's start-up function itself writes its
 * debug message (the trace line names that function) between the two. */
struct PendingRegistration {
    netsnmp_handler_registration *reg;
    netsnmp_iterator_info *iinfo;
};
bool prepare_registration(const TableDef &table, PendingRegistration *pending);
void complete_registration(const PendingRegistration &pending);

} // namespace qv

#endif /* QV_IF_ITERATE_H */
