/*
 * The wireless data source: the device maker's library, resolved from the
 * host agent process at load time. Records are exchanged in memory, so every
 * layout below is fixed byte for byte and every 32-bit number is in the
 * processor's native byte order. Record fields read by a column carry the
 * column object's name; bytes no column reads are named reserved_<offset>.
 *
 * Usable from C and C++: the module, the simulated data source and tests all
 * include it.
 */
#ifndef QV_WLAN_DATASOURCE_H
#define QV_WLAN_DATASOURCE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#define QV_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define QV_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Interface entry (qvXIfTable), 68 bytes. */
typedef struct qv_wlan_if_entry {
    char qvIfName[17];   /* NUL-terminated within its room */
    char qvSSIDName[35]; /* starts at the odd offset 17 */
    int32_t qvIfPromiscuous;
    int32_t qvIfType;
    int32_t qvIfMode;
    int32_t qvIfConfMode;
} qv_wlan_if_entry;

/* Association entry (qvAssociationTable), 484 bytes. */
typedef struct qv_wlan_ass_entry {
    int32_t first_index;       /* row's first index; no column */
    uint8_t qvClientMac[6];    /* also the second index */
    uint8_t reserved_10[2];
    uint8_t qvClientIP[4];     /* network order */
    char qvClientHostname[36];
    int32_t qvClientRSSI;
    uint8_t reserved_56[4];
    uint32_t qvClientLinkUptime;
    int32_t qvClientCWPUsed;
    int32_t qvClientAuthMethod;
    int32_t qvClientEncryptionMethod;
    int32_t qvClientMACProtocol;
    char qvClientSSID[36];
    int32_t qvClientVLAN;
    int32_t qvClientUserProfId;
    int32_t qvClientChannel;
    int32_t qvClientLastTxRate;
    int32_t qvClientLastRxRate;
    char qvClientUsername[164];
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

/* Radio statistics entry (qvRadioStatsTable), 96 bytes; record order is not
 * column order. */
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

/* Virtual interface statistics entry (qvVIfStatsTable), 72 bytes; record
 * order is not column order. */
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

/* Radio attribute entry (qvRadioAttributeTable), 24 bytes. */
typedef struct qv_wlan_radio_attr_entry {
    int32_t qvRadioChannel;
    int32_t qvRadioTxPower;
    int32_t qvRadioNoiseFloor;
    uint8_t reserved_12[12]; /* the data source's own */
} qv_wlan_radio_attr_entry;

/*
 * First and next functions: 0 means an entry was copied into *entry and
 * *cursor now identifies it; anything else means no entry. The first
 * function only writes the cursor; the next function reads the previous
 * entry's cursor and overwrites it. qv_wlan_get_first_ass always gets 1 as
 * its third argument.
 */
int qv_wlan_get_first_if(uint32_t *cursor, qv_wlan_if_entry *entry);
int qv_wlan_get_next_if(uint32_t *cursor, qv_wlan_if_entry *entry);
int qv_wlan_get_first_ass(uint32_t *cursor, qv_wlan_ass_entry *entry, int flag);
int qv_wlan_get_next_ass(uint32_t *cursor, qv_wlan_ass_entry *entry);
int qv_wlan_get_first_radio_statis_entry(uint32_t *cursor, qv_wlan_radio_statis_entry *entry);
int qv_wlan_get_next_radio_statis_entry(uint32_t *cursor, qv_wlan_radio_statis_entry *entry);
int qv_wlan_get_first_virtual_statis_entry(uint32_t *cursor, qv_wlan_virtual_statis_entry *entry);
int qv_wlan_get_next_virtual_statis_entry(uint32_t *cursor, qv_wlan_virtual_statis_entry *entry);
int qv_wlan_get_first_radio_attr_entry(uint32_t *cursor, qv_wlan_radio_attr_entry *entry);
int qv_wlan_get_next_radio_attr_entry(uint32_t *cursor, qv_wlan_radio_attr_entry *entry);

/*
 * Releases one reference of a row block. `record` is the record's address
 * inside the block: the 32-bit count sits in the four bytes before it and the
 * block (from the count on) came from malloc. Frees the block with free()
 * when the count reaches zero. The result is not used by the module.
 */
int qv_free_ref_mem(void *record);

/* Layouts are shared with a library built elsewhere: hold them exactly. */
#define QV_ASSERT_FIELD(type, field, off) \
    QV_STATIC_ASSERT(offsetof(type, field) == (off), #type "." #field " must be at " #off)

QV_STATIC_ASSERT(sizeof(qv_wlan_if_entry) == 68, "qv_wlan_if_entry is 68 bytes");
QV_ASSERT_FIELD(qv_wlan_if_entry, qvIfName, 0);
QV_ASSERT_FIELD(qv_wlan_if_entry, qvSSIDName, 17);
QV_ASSERT_FIELD(qv_wlan_if_entry, qvIfPromiscuous, 52);
QV_ASSERT_FIELD(qv_wlan_if_entry, qvIfType, 56);
QV_ASSERT_FIELD(qv_wlan_if_entry, qvIfMode, 60);
QV_ASSERT_FIELD(qv_wlan_if_entry, qvIfConfMode, 64);

QV_STATIC_ASSERT(sizeof(qv_wlan_ass_entry) == 484, "qv_wlan_ass_entry is 484 bytes");
QV_ASSERT_FIELD(qv_wlan_ass_entry, first_index, 0);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientMac, 4);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientIP, 12);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientHostname, 16);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRSSI, 52);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientLinkUptime, 60);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientCWPUsed, 64);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientAuthMethod, 68);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientEncryptionMethod, 72);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientMACProtocol, 76);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientSSID, 80);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientVLAN, 116);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientUserProfId, 120);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientChannel, 124);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientLastTxRate, 128);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientLastRxRate, 132);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientUsername, 136);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxAirtime, 300);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRxAirtime, 304);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientAssociationTime, 308);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientBSSID, 312);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRxDataFrames, 320);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRxDataOctets, 324);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRxMgtFrames, 328);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRxUnicastFrames, 336);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRxMulticastFrames, 340);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRxBroadcastFrames, 344);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientRxMICFailures, 368);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxDataFrames, 396);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxMgtFrames, 400);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxDataOctets, 404);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxUnicastFrames, 452);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxMulticastFrames, 456);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxBroadcastFrames, 460);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxBeDataFrames, 464);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxBgDataFrames, 468);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxViDataFrames, 472);
QV_ASSERT_FIELD(qv_wlan_ass_entry, qvClientTxVoDataFrames, 476);

QV_STATIC_ASSERT(sizeof(qv_wlan_radio_statis_entry) == 96, "qv_wlan_radio_statis_entry is 96 bytes");
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxDataFrames, 0);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxNonBeaconMgtFrames, 4);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxBeaconFrames, 8);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxTotalRetries, 12);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxTotalFramesDropped, 16);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxTotalFrameErrors, 20);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxFEForExcessiveHWRetries, 24);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxUnicastDataFrames, 28);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxMulticastDataFrames, 32);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxBroadcastDataFrames, 36);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioRxTotalDataFrames, 40);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioRxMgtFrames, 44);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioRxTotalFrameDropped, 48);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioRxUnicastDataFrames, 52);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioRxMulticastDataFrames, 56);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioRxBroadcastDataFrames, 60);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxBeDataFrames, 64);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxBgDataFrames, 68);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxViDataFrames, 72);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxVoDataFrames, 76);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTXRTSFailures, 80);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioTxAirtime, 84);
QV_ASSERT_FIELD(qv_wlan_radio_statis_entry, qvRadioRxAirtime, 88);

QV_STATIC_ASSERT(sizeof(qv_wlan_virtual_statis_entry) == 72, "qv_wlan_virtual_statis_entry is 72 bytes");
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfRxDataFrames, 0);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfRxErrorFrames, 4);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfRxDroppedFrames, 8);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfRxUnicastDataFrames, 12);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfRxMulticastDataFrames, 16);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfRxBroadcastDataFrames, 20);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxDataFrames, 24);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxErrorFrames, 28);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxDroppedFrames, 32);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxUnicastDataFrames, 36);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxMulticastDataFrames, 40);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxBroadcastDataFrames, 44);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxBeDataFrames, 48);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxBgDataFrames, 52);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxViDataFrames, 56);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxVoDataFrames, 60);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfTxAirtime, 64);
QV_ASSERT_FIELD(qv_wlan_virtual_statis_entry, qvVIfRxAirtime, 68);

QV_STATIC_ASSERT(sizeof(qv_wlan_radio_attr_entry) == 24, "qv_wlan_radio_attr_entry is 24 bytes");
QV_ASSERT_FIELD(qv_wlan_radio_attr_entry, qvRadioChannel, 0);
QV_ASSERT_FIELD(qv_wlan_radio_attr_entry, qvRadioTxPower, 4);
QV_ASSERT_FIELD(qv_wlan_radio_attr_entry, qvRadioNoiseFloor, 8);

#ifdef __cplusplus
}
#endif

#endif /* QV_WLAN_DATASOURCE_H */
