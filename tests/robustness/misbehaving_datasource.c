/*
 * A test-only wireless data source that breaks the rules the simulated one
 * enforces, loaded into snmpd with "dlmod qv_test_misbehaving_ds PATH" before
 * the module. QV_MISBEHAVE selects how:
 *
 *   repeat   cursors repeat within a walk (1, 1, 2, 2, 2, 3) in every table,
 *            association first indexes and MACs repeat too
 *   midwalk  every walk fails after its third entry (result -1), so rows
 *            behind it are never seen
 *   flaky    every 5th first/next call reports no entry; the others fill
 *            whole records of junk with no NUL in any string
 *
 * Must come before the module in snmpd.conf, like the simulated one.
 * It walks by its own position, so repeated cursors cannot make it loop.
 * At exit it writes "filled=N freed=N live=N bad_releases=N" to the file
 * named by QV_MISBEHAVE_REPORT: every row block it filled must have been
 * released exactly as often as it was counted.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "datasource/qv_wlan_datasource.h"

#define EXPORT __attribute__((visibility("default")))
#define ENTRIES 6
#define MAX_LIVE 4096

static enum { REPEAT, MIDWALK, FLAKY } mode = REPEAT;
static unsigned long filled, freed, bad_releases, calls;
static void *live[MAX_LIVE];
static size_t live_count;
static size_t position[5];

static void remember(void *record) {
    if (live_count < MAX_LIVE) live[live_count++] = record;
    ++filled;
}

static int forget(void *record) {
    for (size_t i = 0; i < live_count; ++i) {
        if (live[i] == record) {
            live[i] = live[--live_count];
            return 1;
        }
    }
    return 0;
}

static uint32_t cursor_at(size_t pos) {
    static const uint32_t repeated[ENTRIES] = {1, 1, 2, 2, 2, 3};
    return mode == REPEAT ? repeated[pos] : (uint32_t)(pos * 3 + 1);
}

/* Fills entry `pos` of table `t`; 0 on success. */
static int fill(int t, size_t pos, uint32_t *cursor, void *record, size_t size) {
    ++calls;
    if (pos >= ENTRIES) return 1;
    if (mode == MIDWALK && pos == 3) return -1;
    if (mode == FLAKY && calls % 5 == 0) return 2;
    memset(record, mode == FLAKY ? 0xA7 : 0x41 + t, size); /* strings end nowhere */
    if (t == 1) {
        qv_wlan_ass_entry *e = (qv_wlan_ass_entry *)record;
        e->first_index = mode == REPEAT ? 7 : (int32_t)pos;
        memset(e->qvClientMac, 0x02, sizeof e->qvClientMac);
        e->qvClientMac[5] = (uint8_t)(mode == REPEAT ? pos / 2 : pos);
    }
    *cursor = cursor_at(pos);
    remember(record);
    return 0;
}

#define KIND(t, first_fn, next_fn, type)                                                                \
    EXPORT int first_fn(uint32_t *cursor, type *entry) {                                                \
        position[t] = 0;                                                                                \
        return fill(t, 0, cursor, entry, sizeof *entry);                                                \
    }                                                                                                   \
    EXPORT int next_fn(uint32_t *cursor, type *entry) { return fill(t, ++position[t], cursor, entry, sizeof *entry); }

KIND(0, qv_wlan_get_first_if, qv_wlan_get_next_if, qv_wlan_if_entry)
KIND(2, qv_wlan_get_first_radio_statis_entry, qv_wlan_get_next_radio_statis_entry, qv_wlan_radio_statis_entry)
KIND(3, qv_wlan_get_first_virtual_statis_entry, qv_wlan_get_next_virtual_statis_entry, qv_wlan_virtual_statis_entry)
KIND(4, qv_wlan_get_first_radio_attr_entry, qv_wlan_get_next_radio_attr_entry, qv_wlan_radio_attr_entry)

EXPORT int qv_wlan_get_first_ass(uint32_t *cursor, qv_wlan_ass_entry *entry, int flag) {
    (void)flag;
    position[1] = 0;
    return fill(1, 0, cursor, entry, sizeof *entry);
}
EXPORT int qv_wlan_get_next_ass(uint32_t *cursor, qv_wlan_ass_entry *entry) {
    return fill(1, ++position[1], cursor, entry, sizeof *entry);
}

EXPORT int qv_free_ref_mem(void *record) {
    int present = 0;
    for (size_t i = 0; i < live_count; ++i) present |= live[i] == record;
    uint32_t *count = (uint32_t *)((unsigned char *)record - 4);
    if (!record || !present || *count == 0) {
        ++bad_releases;
        return -1;
    }
    if (--*count == 0) {
        forget(record);
        ++freed;
        free(count);
    }
    return 0;
}

static void report(void) {
    const char *path = getenv("QV_MISBEHAVE_REPORT");
    if (!path) return;
    FILE *f = fopen(path, "w");
    if (!f) return;
    fprintf(f, "filled=%lu freed=%lu live=%zu bad_releases=%lu\n", filled, freed, live_count, bad_releases);
    fclose(f);
}

EXPORT void init_qv_test_misbehaving_ds(void) {
    /* dlmod loads privately; promote this library's symbols so that the
     * module, loaded next, resolves the data-source functions here. */
    Dl_info info;
    if (dladdr((void *)init_qv_test_misbehaving_ds, &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
    const char *m = getenv("QV_MISBEHAVE");
    if (m && !strcmp(m, "midwalk")) mode = MIDWALK;
    else if (m && !strcmp(m, "flaky")) mode = FLAKY;
    else mode = REPEAT;
    atexit(report);
}
