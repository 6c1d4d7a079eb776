/* A data source in C, written with the data-source kit, for snmpd on a C
 * library without a C++ runtime (musl): serves the records of the file named
 * by QV_RECORDS, written by e2e_agents.py: per kind of entry in registration
 * order a 32-bit row count, then per row its cursor (32 bits) and the record,
 * all in the processor's byte order. */
#include <stdio.h>
#include <string.h>

#include "datasource/qv_wlan_datasource.h"

#define KIND_SIZE(kind, record, extra) sizeof(record),
#define KIND_NUMBER(kind, record, extra) KIND_##kind,
static const size_t size[] = {QV_WLAN_ENTRY_KINDS(KIND_SIZE)};
enum { QV_WLAN_ENTRY_KINDS(KIND_NUMBER) KINDS };
static unsigned char *rows[KINDS];
static uint32_t count[KINDS];

__attribute__((constructor)) static void load(void) {
    FILE *f = fopen(getenv("QV_RECORDS"), "rb");
    for (int t = 0; f && t < KINDS && fread(&count[t], 4, 1, f) == 1; t++)
        if (!(rows[t] = malloc(count[t] * (4 + size[t]))) || fread(rows[t], 4 + size[t], count[t], f) != count[t])
            count[t] = 0;
}

/* The first row, or the one after the row whose cursor is *cursor. */
static int serve(int t, int first, uint32_t *cursor, void *entry) {
    uint32_t i = 0;
    while (!first && i < count[t] && memcmp(cursor, rows[t] + i++ * (4 + size[t]), 4)) {
    }
    if (i >= count[t]) return -1;
    memcpy(cursor, rows[t] + i * (4 + size[t]), 4);
    memcpy(entry, rows[t] + i * (4 + size[t]) + 4, size[t]);
    return 0;
}

#define KIND_FUNCTIONS(kind, record, extra)                                             \
    QV_WLAN_DATASOURCE_API int qv_wlan_get_first_##kind(uint32_t *c, record *e extra) { \
        return serve(KIND_##kind, 1, c, e);                                             \
    }                                                                                   \
    QV_WLAN_DATASOURCE_API int qv_wlan_get_next_##kind(uint32_t *c, record *e) { return serve(KIND_##kind, 0, c, e); }
QV_WLAN_ENTRY_KINDS(KIND_FUNCTIONS)
QV_WLAN_DATASOURCE_API int qv_free_ref_mem(void *record) { return (int)qv_wlan_release_block(record); }
QV_WLAN_DLMOD_ENTRY(records_datasource)
