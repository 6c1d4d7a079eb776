/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qvVIfStatsTable (.4): per-virtual-interface traffic and airtime counters,
 * indexed by the entry's cursor.
 */
#ifndef QV_VIF_STATS_TABLE_H
#define QV_VIF_STATS_TABLE_H

#include "tables/record_layout.h"

/* Virtual interface statistics entry, 72 bytes; record order is not column
 * order. */
typedef struct qv_wlan_virtual_statis_entry {
    uint32_t qvVIfRxDataFrames;
    uint32_t qvVIfRxErrorFrames;
    uint32_t qvVIfRxDroppedFrames;
    uint32_t qvVIfRxUnicastDataFrames;
    uint32_t qvVIfRxMulticastDataFrames;
    uint32_t qvVIfRxBroadcastDataFrames;
    uint32_t qvVIfTxDataFrames;
    uint32_t qvVIfTxErrorFrames;
    uint32_t qvVIfTxDroppedFrames;
    uint32_t qvVIfTxUnicastDataFrames;
    uint32_t qvVIfTxMulticastDataFrames;
    uint32_t qvVIfTxBroadcastDataFrames;
    uint32_t qvVIfTxBeDataFrames;
    uint32_t qvVIfTxBgDataFrames;
    uint32_t qvVIfTxViDataFrames;
    uint32_t qvVIfTxVoDataFrames;
    uint32_t qvVIfTxAirtime;
    uint32_t qvVIfRxAirtime;
} qv_wlan_virtual_statis_entry;

#define QV_VIF_STATS_TABLE_COLUMNS(X, R)                \
    X(R, 1, qvVIfRxDataFrames, Counter32, 0)            \
    X(R, 2, qvVIfRxUnicastDataFrames, Counter32, 12)    \
    X(R, 3, qvVIfRxMulticastDataFrames, Counter32, 16)  \
    X(R, 4, qvVIfRxBroadcastDataFrames, Counter32, 20)  \
    X(R, 5, qvVIfRxErrorFrames, Counter32, 4)           \
    X(R, 6, qvVIfRxDroppedFrames, Counter32, 8)         \
    X(R, 7, qvVIfTxDataFrames, Counter32, 24)           \
    X(R, 8, qvVIfTxUnicastDataFrames, Counter32, 36)    \
    X(R, 9, qvVIfTxMulticastDataFrames, Counter32, 40)  \
    X(R, 10, qvVIfTxBroadcastDataFrames, Counter32, 44) \
    X(R, 11, qvVIfTxErrorFrames, Counter32, 28)         \
    X(R, 12, qvVIfTxDroppedFrames, Counter32, 32)       \
    X(R, 13, qvVIfTxBeDataFrames, Counter32, 48)        \
    X(R, 14, qvVIfTxBgDataFrames, Counter32, 52)        \
    X(R, 15, qvVIfTxViDataFrames, Counter32, 56)        \
    X(R, 16, qvVIfTxVoDataFrames, Counter32, 60)        \
    X(R, 17, qvVIfTxAirtime, Counter32, 64)             \
    X(R, 18, qvVIfRxAirtime, Counter32, 68)

QV_RECORD_LAYOUT(qv_wlan_virtual_statis_entry, 72, QV_VIF_STATS_TABLE_COLUMNS)

#define QV_VIF_STATS_TABLE_INDEX(FIELD, CURSOR, R) CURSOR(R)

/* The make-data-context callback's name lacks "Stats"; the free callbacks
 * carry no prefix. */
#define QV_VIF_STATS_TABLE(T)                                                                             \
    T(qvVIfStatsTable, 4, virtual_statis_entry, qv_wlan_virtual_statis_entry, QV_VIF_STATS_TABLE_COLUMNS, \
      QV_VIF_STATS_TABLE_INDEX, qvVIfTable_context_convert_function, VIfTable_data_free, VIfTable_loop_free)

#endif /* QV_VIF_STATS_TABLE_H */
