/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * A data source built outside the tree against the installed kit alone
 * (test_sdk.py): three rows of every kind of entry, each record filled with a
 * 13-byte pattern of its kind and row whose last byte is NUL (so strings
 * end), cursor 10 * row + 1; the associations go through interface `row`.
 */
#include "datasource/qv_wlan_datasource.h"

#define KIND_NUMBER(kind, record, extra) KIND_##kind,
enum { QV_WLAN_ENTRY_KINDS(KIND_NUMBER) };

static int fill(int kind, uint32_t row, uint32_t *cursor, void *record, size_t size) {
    if (row >= 3) return 1;
    for (size_t i = 0; i < size; i++)
        ((unsigned char *)record)[i] = i % 13 == 12 ? 0 : (unsigned char)(kind * 40 + row * 9 + i % 13 * 17 + 1);
    if (kind == KIND_ass) ((qv_wlan_ass_entry *)record)->first_index = (int32_t)row;
    *cursor = 10 * row + 1;
    return 0;
}

#define DEFINE_KIND(kind, record, extra)                                                         \
    QV_WLAN_DATASOURCE_API int qv_wlan_get_first_##kind(uint32_t *cursor, record *entry extra) { \
        return fill(KIND_##kind, 0, cursor, entry, sizeof *entry);                               \
    }                                                                                            \
    QV_WLAN_DATASOURCE_API int qv_wlan_get_next_##kind(uint32_t *cursor, record *entry) {        \
        return fill(KIND_##kind, *cursor / 10 + 1, cursor, entry, sizeof *entry);                \
    }
QV_WLAN_ENTRY_KINDS(DEFINE_KIND)

QV_WLAN_DATASOURCE_API int qv_free_ref_mem(void *record) {
    qv_wlan_release_block(record);
    return 0;
}

QV_WLAN_DLMOD_ENTRY(sdk_ap)
