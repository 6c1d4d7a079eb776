/* A data source in C, for snmpd on a C library without a C++ runtime (musl):
 * serves the records of the file named by QV_RECORDS, written by e2e_cross.py:
 * per table in registration order a 32-bit row count, then per row its cursor
 * (32 bits) and the record, all in the processor's byte order. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qv_wlan_datasource.h"

static const size_t size[5] = {sizeof(qv_wlan_if_entry), sizeof(qv_wlan_ass_entry), sizeof(qv_wlan_radio_statis_entry),
                               sizeof(qv_wlan_virtual_statis_entry), sizeof(qv_wlan_radio_attr_entry)};
static unsigned char *rows[5];
static uint32_t count[5];

__attribute__((constructor)) static void load(void) {
    FILE *f = fopen(getenv("QV_RECORDS"), "rb");
    for (int t = 0; f && t < 5 && fread(&count[t], 4, 1, f) == 1; t++)
        if (!(rows[t] = malloc(count[t] * (4 + size[t]))) || fread(rows[t], 4 + size[t], count[t], f) != count[t])
            count[t] = 0;
}

/* The first row, or the one after the row whose cursor is *cursor. */
static int serve(int t, int first, uint32_t *cursor, void *entry) {
    uint32_t i = 0;
    while (!first && i < count[t] && memcmp(cursor, rows[t] + i++ * (4 + size[t]), 4)) {}
    if (i >= count[t]) return -1;
    memcpy(cursor, rows[t] + i * (4 + size[t]), 4);
    memcpy(entry, rows[t] + i * (4 + size[t]) + 4, size[t]);
    return 0;
}

#define TABLE(t, kind, type, ...) \
    int qv_wlan_get_first_##kind(uint32_t *c, type *e __VA_ARGS__) { return serve(t, 1, c, e); } \
    int qv_wlan_get_next_##kind(uint32_t *c, type *e) { return serve(t, 0, c, e); }
TABLE(0, if, qv_wlan_if_entry)
TABLE(1, ass, qv_wlan_ass_entry, , int flag)
TABLE(2, radio_statis_entry, qv_wlan_radio_statis_entry)
TABLE(3, virtual_statis_entry, qv_wlan_virtual_statis_entry)
TABLE(4, radio_attr_entry, qv_wlan_radio_attr_entry)

int qv_free_ref_mem(void *record) {
    uint32_t *refs = (uint32_t *)record - 1;
    if (--*refs == 0) free(refs);
    return 0;
}
