/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * A test-only data source in C, written with the data-source kit, loaded with
 * "dlmod qv_test_datasource PATH" before the module. It builds for a C library
 * without a C++ runtime (musl) too. QV_MISBEHAVE selects what it serves:
 *   records  the rows of the file named by QV_RECORDS (written by
 *            tests/cross/e2e_agents.py): per kind of entry in registration
 *            order a 32-bit row count, then per row its cursor (32 bits) and
 *            the record, all in the processor's byte order
 *   repeat   cursors repeat within a walk (1, 1, 2, 2, 2, 3), association
 *            first indexes and MACs too
 *   midwalk  every walk fails after its third entry (result -1)
 *   flaky    every 5th call reports no entry; the others fill whole records
 *            of junk with no NUL in any string
 * It walks by its own position, so repeated cursors cannot make it loop. At
 * exit it writes "filled=N freed=N live=N bad_releases=N" to the file named
 * by QV_MISBEHAVE_REPORT: every block it filled must be released as counted.
 */
#include <stdio.h>
#include <string.h>

#include "datasource/qv_wlan_datasource.h"

enum { ENTRIES = 6, MAX_LIVE = 4096 };
#define KIND_NUMBER(kind, record, extra) KIND_##kind,
#define KIND_SIZE(kind, record, extra) sizeof(record),
enum { QV_WLAN_ENTRY_KINDS(KIND_NUMBER) KINDS };
static const size_t record_size[] = {QV_WLAN_ENTRY_KINDS(KIND_SIZE)};

static enum { RECORDS, REPEAT, MIDWALK, FLAKY } mode;
static unsigned long filled, freed, bad_releases, calls;
static void *live[MAX_LIVE];
static size_t live_count, position[KINDS];
static unsigned char *rows[KINDS];
static uint32_t row_count[KINDS];

static int fill(int kind, size_t pos, uint32_t *cursor, void *record, size_t size) {
    static const uint32_t repeated[ENTRIES] = {1, 1, 2, 2, 2, 3};
    ++calls;
    if (pos >= (mode == RECORDS ? row_count[kind] : ENTRIES)) return 1;
    if ((mode == MIDWALK && pos == 3) || (mode == FLAKY && calls % 5 == 0)) return -1;
    if (mode == RECORDS) {
        memcpy(cursor, rows[kind] + pos * (4 + size), 4);
        memcpy(record, rows[kind] + pos * (4 + size) + 4, size);
    } else {
        memset(record, mode == FLAKY ? 0xA7 : 0x41 + kind, size); /* strings end nowhere */
        *cursor = mode == REPEAT ? repeated[pos] : (uint32_t)(pos * 3 + 1);
    }
    if (kind == KIND_ass && mode != RECORDS) {
        qv_wlan_ass_entry *e = (qv_wlan_ass_entry *)record;
        e->first_index = mode == REPEAT ? 7 : (int32_t)pos;
        memset(e->qvClientMac, 0x02, sizeof e->qvClientMac);
        e->qvClientMac[5] = (uint8_t)(mode == REPEAT ? pos / 2 : pos);
    }
    if (live_count < MAX_LIVE) live[live_count++] = record;
    ++filled;
    return 0;
}

#define DEFINE_KIND(kind, record, extra)                                                         \
    QV_WLAN_DATASOURCE_API int qv_wlan_get_first_##kind(uint32_t *cursor, record *entry extra) { \
        return fill(KIND_##kind, position[KIND_##kind] = 0, cursor, entry, sizeof *entry);       \
    }                                                                                            \
    QV_WLAN_DATASOURCE_API int qv_wlan_get_next_##kind(uint32_t *cursor, record *entry) {        \
        return fill(KIND_##kind, ++position[KIND_##kind], cursor, entry, sizeof *entry);         \
    }
#pragma GCC diagnostic ignored "-Wunused-parameter" /* the reserved flag of the first association */
QV_WLAN_ENTRY_KINDS(DEFINE_KIND)

QV_WLAN_DATASOURCE_API int qv_free_ref_mem(void *record) {
    size_t i = 0;
    while (i < live_count && live[i] != record) ++i;
    if (i == live_count || *qv_wlan_block_count(record) == 0) {
        ++bad_releases;
        return -1;
    }
    if (qv_wlan_release_block(record) == 0) {
        live[i] = live[--live_count];
        ++freed;
    }
    return 0;
}

static void report(void) {
    FILE *f = getenv("QV_MISBEHAVE_REPORT") ? fopen(getenv("QV_MISBEHAVE_REPORT"), "w") : NULL;
    if (!f) return;
    fprintf(f, "filled=%lu freed=%lu live=%zu bad_releases=%lu\n", filled, freed, live_count, bad_releases);
    fclose(f);
}

__attribute__((constructor)) static void choose_mode(void) {
    const char *m = getenv("QV_MISBEHAVE");
    mode = !m ? REPEAT : !strcmp(m, "midwalk") ? MIDWALK : !strcmp(m, "flaky") ? FLAKY : REPEAT;
    if (m && !strcmp(m, "records")) mode = RECORDS;
    FILE *f = mode == RECORDS ? fopen(getenv("QV_RECORDS"), "rb") : NULL;
    for (int t = 0; f && t < KINDS && fread(&row_count[t], 4, 1, f) == 1; t++) {
        rows[t] = malloc(row_count[t] * (4 + record_size[t]));
        if (!rows[t] || fread(rows[t], 4 + record_size[t], row_count[t], f) != row_count[t]) row_count[t] = 0;
    }
    atexit(report);
}

QV_WLAN_DLMOD_ENTRY(qv_test_datasource)
