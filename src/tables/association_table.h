/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qvAssociationTable (.2): the clients associated with the access point,
 * indexed by the record's first index (INTEGER) and the client MAC (OCTET
 * STRING of 6). The data source's cursor is private to it here.
 */
#ifndef QV_ASSOCIATION_TABLE_H
#define QV_ASSOCIATION_TABLE_H

#include "tables/record_layout.h"

/* Association entry, 484 bytes. Bytes named reserved_<offset> are read by no
 * column and are the data source's own. */
typedef struct qv_wlan_ass_entry {
    int32_t first_index;    /* the row's first index; no column */
    uint8_t qvClientMac[6]; /* also the second index */
    uint8_t reserved_10[2];
    uint8_t qvClientIP[4];     /* network order */
    char qvClientHostname[36]; /* at most 35 bytes and a NUL */
    int32_t qvClientRSSI;
    uint8_t reserved_56[4];
    uint32_t qvClientLinkUptime;
    int32_t qvClientCWPUsed;
    int32_t qvClientAuthMethod;
    int32_t qvClientEncryptionMethod;
    int32_t qvClientMACProtocol;
    char qvClientSSID[36]; /* at most 35 bytes and a NUL */
    int32_t qvClientVLAN;
    int32_t qvClientUserProfId;
    int32_t qvClientChannel;
    int32_t qvClientLastTxRate;
    int32_t qvClientLastRxRate;
    char qvClientUsername[164]; /* at most 163 bytes and a NUL */
    uint32_t qvClientTxAirtime;
    uint32_t qvClientRxAirtime;
    uint32_t qvClientAssociationTime;
    uint8_t qvClientBSSID[6];
    uint8_t reserved_318[2];
    uint32_t qvClientRxDataFrames;
    uint32_t qvClientRxDataOctets;
    uint32_t qvClientRxMgtFrames;
    uint8_t reserved_332[4];
    uint32_t qvClientRxUnicastFrames;
    uint32_t qvClientRxMulticastFrames;
    uint32_t qvClientRxBroadcastFrames;
    uint8_t reserved_348[20];
    uint32_t qvClientRxMICFailures;
    uint8_t reserved_372[24];
    uint32_t qvClientTxDataFrames;
    uint32_t qvClientTxMgtFrames;
    uint32_t qvClientTxDataOctets;
    uint8_t reserved_408[44];
    uint32_t qvClientTxUnicastFrames;
    uint32_t qvClientTxMulticastFrames;
    uint32_t qvClientTxBroadcastFrames;
    uint32_t qvClientTxBeDataFrames;
    uint32_t qvClientTxBgDataFrames;
    uint32_t qvClientTxViDataFrames;
    uint32_t qvClientTxVoDataFrames;
    uint8_t reserved_480[4];
} qv_wlan_ass_entry;

/* Record order is not column order: columns 29 and 34 to 37 lie earlier. */
#define QV_ASSOCIATION_TABLE_COLUMNS(X, R)              \
    X(R, 1, qvClientMac, Mac, 4)                        \
    X(R, 2, qvClientIP, IpAddress, 12)                  \
    X(R, 3, qvClientHostname, String, 16)               \
    X(R, 4, qvClientRSSI, Integer, 52)                  \
    X(R, 5, qvClientLinkUptime, Counter32, 60)          \
    X(R, 6, qvClientCWPUsed, Integer, 64)               \
    X(R, 7, qvClientAuthMethod, Integer, 68)            \
    X(R, 8, qvClientEncryptionMethod, Integer, 72)      \
    X(R, 9, qvClientMACProtocol, Integer, 76)           \
    X(R, 10, qvClientSSID, String, 80)                  \
    X(R, 11, qvClientVLAN, Integer, 116)                \
    X(R, 12, qvClientUserProfId, Integer, 120)          \
    X(R, 13, qvClientChannel, Integer, 124)             \
    X(R, 14, qvClientLastTxRate, Integer, 128)          \
    X(R, 15, qvClientUsername, String, 136)             \
    X(R, 16, qvClientRxDataFrames, Counter32, 320)      \
    X(R, 17, qvClientRxDataOctets, Counter32, 324)      \
    X(R, 18, qvClientRxMgtFrames, Counter32, 328)       \
    X(R, 19, qvClientRxUnicastFrames, Counter32, 336)   \
    X(R, 20, qvClientRxMulticastFrames, Counter32, 340) \
    X(R, 21, qvClientRxBroadcastFrames, Counter32, 344) \
    X(R, 22, qvClientRxMICFailures, Counter32, 368)     \
    X(R, 23, qvClientTxDataFrames, Counter32, 396)      \
    X(R, 24, qvClientTxMgtFrames, Counter32, 400)       \
    X(R, 25, qvClientTxDataOctets, Counter32, 404)      \
    X(R, 26, qvClientTxUnicastFrames, Counter32, 452)   \
    X(R, 27, qvClientTxMulticastFrames, Counter32, 456) \
    X(R, 28, qvClientTxBroadcastFrames, Counter32, 460) \
    X(R, 29, qvClientLastRxRate, Integer, 132)          \
    X(R, 30, qvClientTxBeDataFrames, Counter32, 464)    \
    X(R, 31, qvClientTxBgDataFrames, Counter32, 468)    \
    X(R, 32, qvClientTxViDataFrames, Counter32, 472)    \
    X(R, 33, qvClientTxVoDataFrames, Counter32, 476)    \
    X(R, 34, qvClientTxAirtime, Counter32, 300)         \
    X(R, 35, qvClientRxAirtime, Counter32, 304)         \
    X(R, 36, qvClientAssociationTime, Counter32, 308)   \
    X(R, 37, qvClientBSSID, Mac, 312)

QV_RECORD_LAYOUT(qv_wlan_ass_entry, 484, QV_ASSOCIATION_TABLE_COLUMNS)
QV_ASSERT_FIELD(qv_wlan_ass_entry, first_index, 0)

#define QV_ASSOCIATION_TABLE_INDEX(FIELD, CURSOR, R) FIELD(R, first_index, Integer) FIELD(R, qvClientMac, Mac)

#define QV_ASSOCIATION_TABLE(T)                                                                                \
    T(qvAssociationTable, 2, ass, qv_wlan_ass_entry, QV_ASSOCIATION_TABLE_COLUMNS, QV_ASSOCIATION_TABLE_INDEX, \
      qvAssociationTable_context_convert_function, AssoTable_data_free, AssoTable_loop_free)

#endif /* QV_ASSOCIATION_TABLE_H */
