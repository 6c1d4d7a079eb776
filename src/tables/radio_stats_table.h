/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qvRadioStatsTable (.3): per-radio traffic, error and airtime counters,
 * indexed by the entry's cursor.
 */
#ifndef QV_RADIO_STATS_TABLE_H
#define QV_RADIO_STATS_TABLE_H

#include "tables/record_layout.h"

/* Radio statistics entry, 96 bytes; record order is not column order. */
typedef struct qv_wlan_radio_statis_entry {
    uint32_t qvRadioTxDataFrames;
    uint32_t qvRadioTxNonBeaconMgtFrames;
    uint32_t qvRadioTxBeaconFrames;
    uint32_t qvRadioTxTotalRetries;
    uint32_t qvRadioTxTotalFramesDropped;
    uint32_t qvRadioTxTotalFrameErrors;
    uint32_t qvRadioTxFEForExcessiveHWRetries;
    uint32_t qvRadioTxUnicastDataFrames;
    uint32_t qvRadioTxMulticastDataFrames;
    uint32_t qvRadioTxBroadcastDataFrames;
    uint32_t qvRadioRxTotalDataFrames;
    uint32_t qvRadioRxMgtFrames;
    uint32_t qvRadioRxTotalFrameDropped;
    uint32_t qvRadioRxUnicastDataFrames;
    uint32_t qvRadioRxMulticastDataFrames;
    uint32_t qvRadioRxBroadcastDataFrames;
    uint32_t qvRadioTxBeDataFrames;
    uint32_t qvRadioTxBgDataFrames;
    uint32_t qvRadioTxViDataFrames;
    uint32_t qvRadioTxVoDataFrames;
    uint32_t qvRadioTXRTSFailures;
    uint32_t qvRadioTxAirtime;
    uint32_t qvRadioRxAirtime;
    uint8_t reserved_92[4];
} qv_wlan_radio_statis_entry;

#define QV_RADIO_STATS_TABLE_COLUMNS(X, R)                    \
    X(R, 1, qvRadioTxDataFrames, Counter32, 0)                \
    X(R, 2, qvRadioTxUnicastDataFrames, Counter32, 28)        \
    X(R, 3, qvRadioTxMulticastDataFrames, Counter32, 32)      \
    X(R, 4, qvRadioTxBroadcastDataFrames, Counter32, 36)      \
    X(R, 5, qvRadioTxNonBeaconMgtFrames, Counter32, 4)        \
    X(R, 6, qvRadioTxBeaconFrames, Counter32, 8)              \
    X(R, 7, qvRadioTxTotalRetries, Counter32, 12)             \
    X(R, 8, qvRadioTxTotalFramesDropped, Counter32, 16)       \
    X(R, 9, qvRadioTxTotalFrameErrors, Counter32, 20)         \
    X(R, 10, qvRadioTxFEForExcessiveHWRetries, Counter32, 24) \
    X(R, 11, qvRadioRxTotalDataFrames, Counter32, 40)         \
    X(R, 12, qvRadioRxUnicastDataFrames, Counter32, 52)       \
    X(R, 13, qvRadioRxMulticastDataFrames, Counter32, 56)     \
    X(R, 14, qvRadioRxBroadcastDataFrames, Counter32, 60)     \
    X(R, 15, qvRadioRxMgtFrames, Counter32, 44)               \
    X(R, 16, qvRadioRxTotalFrameDropped, Counter32, 48)       \
    X(R, 17, qvRadioTxBeDataFrames, Counter32, 64)            \
    X(R, 18, qvRadioTxBgDataFrames, Counter32, 68)            \
    X(R, 19, qvRadioTxViDataFrames, Counter32, 72)            \
    X(R, 20, qvRadioTxVoDataFrames, Counter32, 76)            \
    X(R, 21, qvRadioTXRTSFailures, Counter32, 80)             \
    X(R, 22, qvRadioTxAirtime, Counter32, 84)                 \
    X(R, 23, qvRadioRxAirtime, Counter32, 88)

QV_RECORD_LAYOUT(qv_wlan_radio_statis_entry, 96, QV_RADIO_STATS_TABLE_COLUMNS)

#define QV_RADIO_STATS_TABLE_INDEX(FIELD, CURSOR, R) CURSOR(R)

#define QV_RADIO_STATS_TABLE(T)                                                                           \
    T(qvRadioStatsTable, 3, radio_statis_entry, qv_wlan_radio_statis_entry, QV_RADIO_STATS_TABLE_COLUMNS, \
      QV_RADIO_STATS_TABLE_INDEX, qvRadioStatsTable_context_convert_function, radioTable_data_free,       \
      radioTable_loop_free)

#endif /* QV_RADIO_STATS_TABLE_H */
