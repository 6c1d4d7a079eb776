/*
 * qv_bench_source.so: the benchmark's stand-in data source, used when the
 * simulated access point (sim/) is not built. It generates an access point of
 * QV_SIM_GENERATE="clients=N,vifs=M,radios=R" with O(1) first and next calls
 * and keeps the same statistics as the simulator (qv_sim_stats), so the probe
 * and the driver work with either library.
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

#define EXPORT __attribute__((visibility("default")))

static uint32_t n_clients = 64, n_vifs = 4, n_radios = 2;
static int configured;
static struct qv_sim_stats stats;

static void configure(void) {
    if (configured) return;
    configured = 1;
    const char *spec = getenv("QV_SIM_GENERATE");
    if (!spec) return;
    char buf[256];
    snprintf(buf, sizeof buf, "%s", spec);
    for (char *save = NULL, *tok = strtok_r(buf, ",", &save); tok; tok = strtok_r(NULL, ",", &save)) {
        unsigned long v;
        if (sscanf(tok, "clients=%lu", &v) == 1) n_clients = (uint32_t)v;
        else if (sscanf(tok, "vifs=%lu", &v) == 1) n_vifs = (uint32_t)v;
        else if (sscanf(tok, "radios=%lu", &v) == 1) n_radios = (uint32_t)v;
    }
}

/* A filled record becomes a live block until its last release. */
static int filled(void) {
    stats.live_blocks++;
    if (stats.live_blocks > stats.peak_live_blocks) stats.peak_live_blocks = stats.live_blocks;
    return 0;
}

static void fill_if(uint32_t i, qv_wlan_if_entry *e) {
    memset(e, 0, sizeof *e);
    snprintf(e->qvIfName, sizeof e->qvIfName, "wlan0-%u", i);
    snprintf(e->qvSSIDName, sizeof e->qvSSIDName, "bench-ssid-%u", i);
    e->qvIfPromiscuous = 0;
    e->qvIfType = 1;
    e->qvIfMode = 2;
    e->qvIfConfMode = 1;
}

static void fill_ass(uint32_t i, qv_wlan_ass_entry *e) {
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

/* Cursor for the four single-index tables: the 1-based row number. For the
 * association table: the 0-based position. */
#define SIMPLE_KIND(kind, type, count_expr, fill_stmt)                          \
    EXPORT int qv_wlan_get_first_##kind(uint32_t *cursor, type *e) {             \
        configure();                                                             \
        stats.first_calls++;                                                     \
        if ((count_expr) == 0) return -1;                                        \
        *cursor = 1;                                                             \
        { uint32_t i = 0; fill_stmt; }                                           \
        return filled();                                                         \
    }                                                                            \
    EXPORT int qv_wlan_get_next_##kind(uint32_t *cursor, type *e) {              \
        stats.next_calls++;                                                      \
        if (*cursor >= (count_expr)) return -1;                                  \
        uint32_t i = (*cursor)++;                                                \
        fill_stmt;                                                               \
        return filled();                                                         \
    }

SIMPLE_KIND(if, qv_wlan_if_entry, n_vifs, fill_if(i, e))
SIMPLE_KIND(radio_statis_entry, qv_wlan_radio_statis_entry, n_radios,
            for (uint32_t k = 0; k < 23; ++k) ((uint32_t *)e)[k] = i * 100u + k;
            memset(e->reserved_92, 0, 4))
SIMPLE_KIND(virtual_statis_entry, qv_wlan_virtual_statis_entry, n_vifs,
            for (uint32_t k = 0; k < 18; ++k) ((uint32_t *)e)[k] = i * 100u + k)
SIMPLE_KIND(radio_attr_entry, qv_wlan_radio_attr_entry, n_radios,
            memset(e, 0, sizeof *e); e->qvRadioChannel = (int32_t)(i ? 36 : 6);
            e->qvRadioTxPower = 20; e->qvRadioNoiseFloor = -95)

EXPORT int qv_wlan_get_first_ass(uint32_t *cursor, qv_wlan_ass_entry *e, int flag) {
    (void)flag;
    configure();
    stats.first_calls++;
    if (n_clients == 0) return -1;
    *cursor = 0;
    fill_ass(0, e);
    return filled();
}

EXPORT int qv_wlan_get_next_ass(uint32_t *cursor, qv_wlan_ass_entry *e) {
    stats.next_calls++;
    if (*cursor + 1 >= n_clients) return -1;
    fill_ass(++*cursor, e);
    return filled();
}

EXPORT int qv_free_ref_mem(void *record) {
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

EXPORT void qv_sim_stats(struct qv_sim_stats *out) { *out = stats; }

EXPORT void qv_sim_reset_stats(void) {
    uint32_t live = stats.live_blocks;
    memset(&stats, 0, sizeof stats);
    stats.live_blocks = live;
    stats.peak_live_blocks = live;
}

EXPORT void init_qv_bench_source(void) {
    Dl_info self;
    if (dladdr((void *)init_qv_bench_source, &self) && self.dli_fname)
        dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
}
