/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qvXIfTable (.1): the access point's wireless interfaces, one row per
 * interface entry, indexed by the entry's cursor.
 */
#ifndef QV_XIF_TABLE_H
#define QV_XIF_TABLE_H

#include "tables/record_layout.h"

/* Interface entry, 68 bytes. */
typedef struct qv_wlan_if_entry {
    char qvIfName[17];   /* at most 16 bytes and a NUL */
    char qvSSIDName[35]; /* at the odd offset 17; at most 34 bytes and a NUL */
    int32_t qvIfPromiscuous;
    int32_t qvIfType;
    int32_t qvIfMode;
    int32_t qvIfConfMode;
} qv_wlan_if_entry;

#define QV_XIF_TABLE_COLUMNS(X, R)        \
    X(R, 1, qvIfName, String, 0)          \
    X(R, 2, qvSSIDName, String, 17)       \
    X(R, 3, qvIfPromiscuous, Integer, 52) \
    X(R, 4, qvIfType, Integer, 56)        \
    X(R, 5, qvIfMode, Integer, 60)        \
    X(R, 6, qvIfConfMode, Integer, 64)

QV_RECORD_LAYOUT(qv_wlan_if_entry, 68, QV_XIF_TABLE_COLUMNS)

/* Index parts in order: FIELD(record, field, value type) or CURSOR(record). */
#define QV_XIF_TABLE_INDEX(FIELD, CURSOR, R) CURSOR(R)

/* T(table, OID arc, data-source entry kind, record, columns, index,
 *   make_data_context, free_data_context, free_loop_context_at_end) */
#define QV_XIF_TABLE(T)                                                              \
    T(qvXIfTable, 1, if, qv_wlan_if_entry, QV_XIF_TABLE_COLUMNS, QV_XIF_TABLE_INDEX, \
      qvXIfTable_context_convert_function, XIfTable_data_free, XIfTable_loop_free)

#endif /* QV_XIF_TABLE_H */
