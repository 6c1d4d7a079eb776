/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qv_bench_source.so: the benchmark's data source. It generates an access
 * point of QV_SIM_GENERATE="clients=N,vifs=M,radios=R" with O(1) first and
 * next calls and keeps the same statistics as the simulator (qv_sim_stats),
 * so the probe and the driver work with either library (--source).
 *
 * Like a device library that keeps its tables in memory, a first or next call
 * costs one record copy: every record is built once, on the first call, and
 * copied from then on. Instruction counts of a walk then show the module's
 * cost rather than the cost of formatting test data.
 *
 * Load it with `dlmod qv_bench_source PATH` before the module: its init makes
 * the data-source symbols global, as snmpd's dlmod opens libraries locally.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "datasource/qv_wlan_datasource.h"
#include "qv_wlan_sim.h"

static uint32_t n_clients = 64, n_vifs = 4, n_radios = 2;
static int configured;
static struct qv_sim_stats stats;

static void build_all(void);

static void configure(void) {
    if (configured) return;
    configured = 1;
    const char *generate = getenv("QV_SIM_GENERATE");
    if (!generate) {
        build_all();
        return;
    }
    char buf[256];
    snprintf(buf, sizeof buf, "%s", generate);
    for (char *save = NULL, *tok = strtok_r(buf, ",", &save); tok; tok = strtok_r(NULL, ",", &save)) {
        unsigned long v;
        if (sscanf(tok, "clients=%lu", &v) == 1)
            n_clients = (uint32_t)v;
        else if (sscanf(tok, "vifs=%lu", &v) == 1)
            n_vifs = (uint32_t)v;
        else if (sscanf(tok, "radios=%lu", &v) == 1)
            n_radios = (uint32_t)v;
    }
    build_all();
}

/* A filled record becomes a live block until its last release. */
static int filled(void) {
    stats.live_blocks++;
    if (stats.live_blocks > stats.peak_live_blocks) stats.peak_live_blocks = stats.live_blocks;
    return 0;
}

static void build_if(uint32_t i, qv_wlan_if_entry *e) {
    memset(e, 0, sizeof *e);
    snprintf(e->qvIfName, sizeof e->qvIfName, "wlan0-%u", i);
    snprintf(e->qvSSIDName, sizeof e->qvSSIDName, "bench-ssid-%u", i);
    e->qvIfPromiscuous = 0;
    e->qvIfType = 1;
    e->qvIfMode = 2;
    e->qvIfConfMode = 1;
}

static void build_ass(uint32_t i, qv_wlan_ass_entry *e) {
    memset(e, 0, sizeof *e);
    e->first_index = (int32_t)(1 + i % (n_vifs ? n_vifs : 1));
    const uint8_t mac[6] = {0x02, 0x00, 0x5e, (uint8_t)(i >> 16), (uint8_t)(i >> 8), (uint8_t)i};
    memcpy(e->qvClientMac, mac, 6);
    const uint8_t ip[4] = {10, (uint8_t)(i >> 16), (uint8_t)(i >> 8), (uint8_t)i};
    memcpy(e->qvClientIP, ip, 4);
    snprintf(e->qvClientHostname, sizeof e->qvClientHostname, "client-%05u", i);
    e->qvClientRSSI = -40 - (int32_t)(i % 50);
    e->qvClientLinkUptime = 1000 + i;
    e->qvClientAuthMethod = 2;
    e->qvClientEncryptionMethod = 3;
    e->qvClientMACProtocol = 4;
    snprintf(e->qvClientSSID, sizeof e->qvClientSSID, "bench-ssid-%u", (unsigned)e->first_index);
    e->qvClientVLAN = 10;
    e->qvClientChannel = 36;
    e->qvClientLastTxRate = 866;
    e->qvClientLastRxRate = 780;
    snprintf(e->qvClientUsername, sizeof e->qvClientUsername, "user%05u", i);
    memcpy(e->qvClientBSSID, mac, 6);
    uint32_t *counters = &e->qvClientRxDataFrames;
    for (int k = 0; k < 3; ++k) counters[k] = i * 1000u + (uint32_t)k;
    e->qvClientTxDataFrames = i * 7u;
    e->qvClientTxUnicastFrames = i * 5u;
}

static qv_wlan_if_entry *if_rows;
static qv_wlan_ass_entry *ass_rows;
static qv_wlan_radio_statis_entry *radio_stats_rows;
static qv_wlan_virtual_statis_entry *vif_stats_rows;
static qv_wlan_radio_attr_entry *radio_attr_rows;

static void build_radio_stats(uint32_t i, qv_wlan_radio_statis_entry *e) {
    memset(e, 0, sizeof *e);
    for (uint32_t k = 0; k < 23; ++k) ((uint32_t *)e)[k] = i * 100u + k;
}

static void build_vif_stats(uint32_t i, qv_wlan_virtual_statis_entry *e) {
    for (uint32_t k = 0; k < 18; ++k) ((uint32_t *)e)[k] = i * 100u + k;
}

static void build_radio_attr(uint32_t i, qv_wlan_radio_attr_entry *e) {
    memset(e, 0, sizeof *e);
    e->qvRadioChannel = (int32_t)(i ? 36 : 6);
    e->qvRadioTxPower = 20;
    e->qvRadioNoiseFloor = -95;
}

#define BUILD(rows, count, build)                                  \
    do {                                                           \
        rows = calloc((count) ? (count) : 1, sizeof *rows);        \
        if (!rows) abort();                                        \
        for (uint32_t i = 0; i < (count); ++i) build(i, &rows[i]); \
    } while (0)

static void build_all(void) {
    BUILD(if_rows, n_vifs, build_if);
    BUILD(ass_rows, n_clients, build_ass);
    BUILD(radio_stats_rows, n_radios, build_radio_stats);
    BUILD(vif_stats_rows, n_vifs, build_vif_stats);
    BUILD(radio_attr_rows, n_radios, build_radio_attr);
}

/* Cursor for the four single-index tables: the 1-based row number. For the
 * association table: the 0-based position. */
#define SIMPLE_KIND(kind, type, count, rows)                                         \
    QV_WLAN_DATASOURCE_API int qv_wlan_get_first_##kind(uint32_t *cursor, type *e) { \
        configure();                                                                 \
        stats.first_calls++;                                                         \
        if ((count) == 0) return -1;                                                 \
        *cursor = 1;                                                                 \
        memcpy(e, &rows[0], sizeof *e);                                              \
        return filled();                                                             \
    }                                                                                \
    QV_WLAN_DATASOURCE_API int qv_wlan_get_next_##kind(uint32_t *cursor, type *e) {  \
        stats.next_calls++;                                                          \
        if (!configured || *cursor >= (count)) return -1;                            \
        memcpy(e, &rows[(*cursor)++], sizeof *e);                                    \
        return filled();                                                             \
    }

SIMPLE_KIND(if, qv_wlan_if_entry, n_vifs, if_rows)
SIMPLE_KIND(radio_statis_entry, qv_wlan_radio_statis_entry, n_radios, radio_stats_rows)
SIMPLE_KIND(virtual_statis_entry, qv_wlan_virtual_statis_entry, n_vifs, vif_stats_rows)
SIMPLE_KIND(radio_attr_entry, qv_wlan_radio_attr_entry, n_radios, radio_attr_rows)

QV_WLAN_DATASOURCE_API int qv_wlan_get_first_ass(uint32_t *cursor, qv_wlan_ass_entry *e, int flag) {
    (void)flag;
    configure();
    stats.first_calls++;
    if (n_clients == 0) return -1;
    *cursor = 0;
    memcpy(e, &ass_rows[0], sizeof *e);
    return filled();
}

QV_WLAN_DATASOURCE_API int qv_wlan_get_next_ass(uint32_t *cursor, qv_wlan_ass_entry *e) {
    stats.next_calls++;
    if (!configured || *cursor + 1 >= n_clients) return -1;
    memcpy(e, &ass_rows[++*cursor], sizeof *e);
    return filled();
}

QV_WLAN_DATASOURCE_API int qv_free_ref_mem(void *record) {
    uint32_t *count = (uint32_t *)record - 1;
    if (*count == 0) {
        stats.release_errors++;
        return -1;
    }
    if (--*count == 0) {
        free(count);
        stats.live_blocks--;
    }
    return 0;
}

QV_WLAN_DATASOURCE_API void qv_sim_get_stats(struct qv_sim_stats *out) { *out = stats; }

QV_WLAN_DATASOURCE_API void qv_sim_reset_stats(void) {
    uint32_t live = stats.live_blocks;
    memset(&stats, 0, sizeof stats);
    stats.live_blocks = live;
    stats.peak_live_blocks = live;
}

QV_WLAN_DLMOD_ENTRY(qv_bench_source)
