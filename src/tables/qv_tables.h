/*
 * The five tables' columns and exported symbols. Each column list is an
 * X-macro, X(record type, column number, column object, Kind), in column
 * order; adding a column is one line here (plus its record field).
 */
#ifndef QV_TABLES_H
#define QV_TABLES_H

#include "core/qv_if_iterate.h"
#include "core/row_iteration.h"

#define QV_XIF_COLUMNS(X, R)            \
    X(R, 1, qvIfName, String)           \
    X(R, 2, qvSSIDName, String)         \
    X(R, 3, qvIfPromiscuous, Integer)   \
    X(R, 4, qvIfType, Integer)          \
    X(R, 5, qvIfMode, Integer)          \
    X(R, 6, qvIfConfMode, Integer)

#define QV_ASSOCIATION_COLUMNS(X, R)              \
    X(R, 1, qvClientMac, Mac)                     \
    X(R, 2, qvClientIP, IpAddress)                \
    X(R, 3, qvClientHostname, String)             \
    X(R, 4, qvClientRSSI, Integer)                \
    X(R, 5, qvClientLinkUptime, Counter32)        \
    X(R, 6, qvClientCWPUsed, Integer)             \
    X(R, 7, qvClientAuthMethod, Integer)          \
    X(R, 8, qvClientEncryptionMethod, Integer)    \
    X(R, 9, qvClientMACProtocol, Integer)         \
    X(R, 10, qvClientSSID, String)                \
    X(R, 11, qvClientVLAN, Integer)               \
    X(R, 12, qvClientUserProfId, Integer)         \
    X(R, 13, qvClientChannel, Integer)            \
    X(R, 14, qvClientLastTxRate, Integer)         \
    X(R, 15, qvClientUsername, String)            \
    X(R, 16, qvClientRxDataFrames, Counter32)     \
    X(R, 17, qvClientRxDataOctets, Counter32)     \
    X(R, 18, qvClientRxMgtFrames, Counter32)      \
    X(R, 19, qvClientRxUnicastFrames, Counter32)  \
    X(R, 20, qvClientRxMulticastFrames, Counter32) \
    X(R, 21, qvClientRxBroadcastFrames, Counter32) \
    X(R, 22, qvClientRxMICFailures, Counter32)    \
    X(R, 23, qvClientTxDataFrames, Counter32)     \
    X(R, 24, qvClientTxMgtFrames, Counter32)      \
    X(R, 25, qvClientTxDataOctets, Counter32)     \
    X(R, 26, qvClientTxUnicastFrames, Counter32)  \
    X(R, 27, qvClientTxMulticastFrames, Counter32) \
    X(R, 28, qvClientTxBroadcastFrames, Counter32) \
    X(R, 29, qvClientLastRxRate, Integer)         \
    X(R, 30, qvClientTxBeDataFrames, Counter32)   \
    X(R, 31, qvClientTxBgDataFrames, Counter32)   \
    X(R, 32, qvClientTxViDataFrames, Counter32)   \
    X(R, 33, qvClientTxVoDataFrames, Counter32)   \
    X(R, 34, qvClientTxAirtime, Counter32)        \
    X(R, 35, qvClientRxAirtime, Counter32)        \
    X(R, 36, qvClientAssociationTime, Counter32)  \
    X(R, 37, qvClientBSSID, Mac)

#define QV_RADIO_STATS_COLUMNS(X, R)                   \
    X(R, 1, qvRadioTxDataFrames, Counter32)            \
    X(R, 2, qvRadioTxUnicastDataFrames, Counter32)     \
    X(R, 3, qvRadioTxMulticastDataFrames, Counter32)   \
    X(R, 4, qvRadioTxBroadcastDataFrames, Counter32)   \
    X(R, 5, qvRadioTxNonBeaconMgtFrames, Counter32)    \
    X(R, 6, qvRadioTxBeaconFrames, Counter32)          \
    X(R, 7, qvRadioTxTotalRetries, Counter32)          \
    X(R, 8, qvRadioTxTotalFramesDropped, Counter32)    \
    X(R, 9, qvRadioTxTotalFrameErrors, Counter32)      \
    X(R, 10, qvRadioTxFEForExcessiveHWRetries, Counter32) \
    X(R, 11, qvRadioRxTotalDataFrames, Counter32)      \
    X(R, 12, qvRadioRxUnicastDataFrames, Counter32)    \
    X(R, 13, qvRadioRxMulticastDataFrames, Counter32)  \
    X(R, 14, qvRadioRxBroadcastDataFrames, Counter32)  \
    X(R, 15, qvRadioRxMgtFrames, Counter32)            \
    X(R, 16, qvRadioRxTotalFrameDropped, Counter32)    \
    X(R, 17, qvRadioTxBeDataFrames, Counter32)         \
    X(R, 18, qvRadioTxBgDataFrames, Counter32)         \
    X(R, 19, qvRadioTxViDataFrames, Counter32)         \
    X(R, 20, qvRadioTxVoDataFrames, Counter32)         \
    X(R, 21, qvRadioTXRTSFailures, Counter32)          \
    X(R, 22, qvRadioTxAirtime, Counter32)              \
    X(R, 23, qvRadioRxAirtime, Counter32)

#define QV_VIF_STATS_COLUMNS(X, R)                  \
    X(R, 1, qvVIfRxDataFrames, Counter32)           \
    X(R, 2, qvVIfRxUnicastDataFrames, Counter32)    \
    X(R, 3, qvVIfRxMulticastDataFrames, Counter32)  \
    X(R, 4, qvVIfRxBroadcastDataFrames, Counter32)  \
    X(R, 5, qvVIfRxErrorFrames, Counter32)          \
    X(R, 6, qvVIfRxDroppedFrames, Counter32)        \
    X(R, 7, qvVIfTxDataFrames, Counter32)           \
    X(R, 8, qvVIfTxUnicastDataFrames, Counter32)    \
    X(R, 9, qvVIfTxMulticastDataFrames, Counter32)  \
    X(R, 10, qvVIfTxBroadcastDataFrames, Counter32) \
    X(R, 11, qvVIfTxErrorFrames, Counter32)         \
    X(R, 12, qvVIfTxDroppedFrames, Counter32)       \
    X(R, 13, qvVIfTxBeDataFrames, Counter32)        \
    X(R, 14, qvVIfTxBgDataFrames, Counter32)        \
    X(R, 15, qvVIfTxViDataFrames, Counter32)        \
    X(R, 16, qvVIfTxVoDataFrames, Counter32)        \
    X(R, 17, qvVIfTxAirtime, Counter32)             \
    X(R, 18, qvVIfRxAirtime, Counter32)

#define QV_RADIO_ATTRIBUTE_COLUMNS(X, R) \
    X(R, 1, qvRadioChannel, Integer)     \
    X(R, 2, qvRadioTxPower, Integer)     \
    X(R, 3, qvRadioNoiseFloor, Integer)

QV_XIF_COLUMNS(QV_DECLARE_ACCESSOR, qv_wlan_if_entry)
QV_ASSOCIATION_COLUMNS(QV_DECLARE_ACCESSOR, qv_wlan_ass_entry)
QV_RADIO_STATS_COLUMNS(QV_DECLARE_ACCESSOR, qv_wlan_radio_statis_entry)
QV_VIF_STATS_COLUMNS(QV_DECLARE_ACCESSOR, qv_wlan_virtual_statis_entry)
QV_RADIO_ATTRIBUTE_COLUMNS(QV_DECLARE_ACCESSOR, qv_wlan_radio_attr_entry)

QV_DECLARE_TABLE_ENTRY_POINTS(qvXIfTable, qvXIfTable_context_convert_function, XIfTable_data_free,
                              XIfTable_loop_free)
QV_DECLARE_TABLE_ENTRY_POINTS(qvAssociationTable, qvAssociationTable_context_convert_function,
                              AssoTable_data_free, AssoTable_loop_free)
QV_DECLARE_TABLE_ENTRY_POINTS(qvRadioStatsTable, qvRadioStatsTable_context_convert_function,
                              radioTable_data_free, radioTable_loop_free)
QV_DECLARE_TABLE_ENTRY_POINTS(qvVIfStatsTable, qvVIfTable_context_convert_function, VIfTable_data_free,
                              VIfTable_loop_free)
QV_DECLARE_TABLE_ENTRY_POINTS(qvRadioAttributeTable, qvRadioAttributeTable_context_convert_function,
                              qvRadioAttributeTable_data_free, qvRadioAttributeTable_loop_free)

namespace qv {
extern const TableDef xif_table;
extern const TableDef association_table;
extern const TableDef radio_stats_table;
extern const TableDef vif_stats_table;
extern const TableDef radio_attribute_table;
} // namespace qv

#endif /* QV_TABLES_H */
