/*
 * A small fixed wireless data source for the MIB, exporter and install tests:
 * snmpd gets it through LD_PRELOAD, so the module resolves the data-source
 * functions from the agent process as it would on the access point. Every
 * row carries distinct values so a test can tell columns apart; the
 * association rows include the documented example (first index 3, client
 * 00:11:22:33:44:55) and a client with all-ones counters.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "datasource/qv_wlan_datasource.h"

#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

static qv_wlan_if_entry if_rows[2];
static qv_wlan_ass_entry ass_rows[2];
static qv_wlan_radio_statis_entry radio_rows[2];
static qv_wlan_virtual_statis_entry vif_rows[3];
static qv_wlan_radio_attr_entry attr_rows[2];

static void put_u32s(void *rec, size_t n_fields, uint32_t base)
{
    uint32_t *f = (uint32_t *)rec;
    for (size_t i = 0; i < n_fields; i++)
        f[i] = base + (uint32_t)i;
}

__attribute__((constructor)) static void fill_rows(void)
{
    strcpy(if_rows[0].qvIfName, "wlan0");
    strcpy(if_rows[0].qvSSIDName, "Office");
    if_rows[0].qvIfPromiscuous = 0;
    if_rows[0].qvIfType = 1;
    if_rows[0].qvIfMode = 2;
    if_rows[0].qvIfConfMode = 2;
    strcpy(if_rows[1].qvIfName, "wlan1");
    strcpy(if_rows[1].qvSSIDName, "Guest");
    if_rows[1].qvIfPromiscuous = 1;
    if_rows[1].qvIfType = 2;
    if_rows[1].qvIfMode = -3;
    if_rows[1].qvIfConfMode = 4;

    static const uint8_t mac0[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    static const uint8_t mac1[6] = {0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb};
    static const uint8_t bssid0[6] = {0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0x01};
    static const uint8_t bssid1[6] = {0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0x02};
    for (int r = 0; r < 2; r++) {
        qv_wlan_ass_entry *a = &ass_rows[r];
        memset(a, 0, sizeof *a);
        a->first_index = r == 0 ? 3 : 7;
        memcpy(a->qvClientMac, r == 0 ? mac0 : mac1, 6);
        memcpy(a->qvClientBSSID, r == 0 ? bssid0 : bssid1, 6);
        a->qvClientIP[0] = 192;
        a->qvClientIP[1] = 168;
        a->qvClientIP[2] = 1;
        a->qvClientIP[3] = (uint8_t)(10 + r);
        strcpy(a->qvClientHostname, r == 0 ? "laptop-1" : "phone-2");
        strcpy(a->qvClientSSID, r == 0 ? "Office" : "Guest");
        strcpy(a->qvClientUsername, r == 0 ? "alice" : "");
        a->qvClientRSSI = r == 0 ? -52 : -71;
        a->qvClientLinkUptime = 3600u + (uint32_t)r;
        a->qvClientCWPUsed = r;
        a->qvClientAuthMethod = 2 + r;
        a->qvClientEncryptionMethod = 3 + r;
        a->qvClientMACProtocol = 5 + r;
        a->qvClientVLAN = 10 + r;
        a->qvClientUserProfId = 20 + r;
        a->qvClientChannel = r == 0 ? 36 : 6;
        a->qvClientLastTxRate = 866 - r;
        a->qvClientLastRxRate = 780 - r;
        uint32_t base = r == 0 ? 1000u : 0xffffffffu;
        uint32_t step = r == 0 ? 1u : 0u;
        uint32_t *counters[] = {
            &a->qvClientRxDataFrames,      &a->qvClientRxDataOctets,      &a->qvClientRxMgtFrames,
            &a->qvClientRxUnicastFrames,   &a->qvClientRxMulticastFrames, &a->qvClientRxBroadcastFrames,
            &a->qvClientRxMICFailures,     &a->qvClientTxDataFrames,      &a->qvClientTxMgtFrames,
            &a->qvClientTxDataOctets,      &a->qvClientTxUnicastFrames,   &a->qvClientTxMulticastFrames,
            &a->qvClientTxBroadcastFrames, &a->qvClientTxBeDataFrames,    &a->qvClientTxBgDataFrames,
            &a->qvClientTxViDataFrames,    &a->qvClientTxVoDataFrames,    &a->qvClientTxAirtime,
            &a->qvClientRxAirtime,         &a->qvClientAssociationTime,
        };
        for (size_t i = 0; i < COUNT(counters); i++)
            *counters[i] = base + step * (uint32_t)i;
    }

    put_u32s(&radio_rows[0], 23, 100000u);
    put_u32s(&radio_rows[1], 23, 200000u);
    put_u32s(&vif_rows[0], 18, 300000u);
    put_u32s(&vif_rows[1], 18, 400000u);
    put_u32s(&vif_rows[2], 18, 500000u);

    attr_rows[0].qvRadioChannel = 36;
    attr_rows[0].qvRadioTxPower = 20;
    attr_rows[0].qvRadioNoiseFloor = -95;
    attr_rows[1].qvRadioChannel = 6;
    attr_rows[1].qvRadioTxPower = 17;
    attr_rows[1].qvRadioNoiseFloor = -89;
}

/* The cursor is the row's position; the association rows carry their own
 * first index in the record. */
#define DEFINE_KIND(first, next, type, rows)                        \
    int next(uint32_t *cursor, type *entry)                         \
    {                                                               \
        uint32_t k = *cursor + 1;                                   \
        if (k >= COUNT(rows))                                       \
            return 1;                                               \
        memcpy(entry, &rows[k], sizeof *entry);                     \
        *cursor = k;                                                \
        return 0;                                                   \
    }                                                               \
    int first(uint32_t *cursor, type *entry FIRST_EXTRA)            \
    {                                                               \
        memcpy(entry, &rows[0], sizeof *entry);                     \
        *cursor = 0;                                                \
        return 0;                                                   \
    }

#define FIRST_EXTRA
DEFINE_KIND(qv_wlan_get_first_if, qv_wlan_get_next_if, qv_wlan_if_entry, if_rows)
DEFINE_KIND(qv_wlan_get_first_radio_statis_entry, qv_wlan_get_next_radio_statis_entry,
            qv_wlan_radio_statis_entry, radio_rows)
DEFINE_KIND(qv_wlan_get_first_virtual_statis_entry, qv_wlan_get_next_virtual_statis_entry,
            qv_wlan_virtual_statis_entry, vif_rows)
DEFINE_KIND(qv_wlan_get_first_radio_attr_entry, qv_wlan_get_next_radio_attr_entry,
            qv_wlan_radio_attr_entry, attr_rows)
#undef FIRST_EXTRA
#define FIRST_EXTRA , int flag __attribute__((unused))
DEFINE_KIND(qv_wlan_get_first_ass, qv_wlan_get_next_ass, qv_wlan_ass_entry, ass_rows)

/* The module hands back the record address, 4 bytes into its block. */
int qv_free_ref_mem(void *record)
{
    uint32_t *count = (uint32_t *)((char *)record - 4);
    if (*count > 1) {
        --*count;
        return 0;
    }
    free(count);
    return 0;
}
