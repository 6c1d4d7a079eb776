/*
 * The wireless data source: the device maker's library that the module
 * resolves from the host agent process at load time, and the kit every data
 * source in this tree is written with. Usable from C11 (for _Static_assert)
 * and C++.
 *
 * Records: one per kind of entry, each in its table's header under tables/,
 * laid out byte for byte, 32-bit numbers in the processor's native byte order.
 *
 * A data source implements, for each kind of entry, a first and a next
 * function and the reference release qv_free_ref_mem, exported with
 * QV_WLAN_DATASOURCE_API:
 *
 *   int qv_wlan_get_first_<kind>(uint32_t *cursor, <record> *entry);
 *   int qv_wlan_get_next_<kind>(uint32_t *cursor, <record> *entry);
 *
 * 0 means an entry was copied into *entry and *cursor now identifies it;
 * anything else means no entry. The first function only writes the cursor;
 * the next function reads the previous entry's cursor and overwrites it.
 * qv_wlan_get_first_ass takes a third argument, reserved, always 1.
 */
#ifndef QV_WLAN_DATASOURCE_H
#define QV_WLAN_DATASOURCE_H

#include <stdint.h>
#include <stdlib.h>

#include "tables/association_table.h"
#include "tables/radio_attribute_table.h"
#include "tables/radio_stats_table.h"
#include "tables/vif_stats_table.h"
#include "tables/xif_table.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The kinds of entry: X(kind, record, extra parameters of the first function). */
#define QV_WLAN_ENTRY_KINDS(X)                              \
    X(if, qv_wlan_if_entry, )                               \
    X(ass, qv_wlan_ass_entry, QV_WLAN_FIRST_FLAG)           \
    X(radio_statis_entry, qv_wlan_radio_statis_entry, )     \
    X(virtual_statis_entry, qv_wlan_virtual_statis_entry, ) \
    X(radio_attr_entry, qv_wlan_radio_attr_entry, )
#define QV_WLAN_FIRST_FLAG , int flag

#define QV_WLAN_DECLARE_KIND(kind, record, extra)                        \
    int qv_wlan_get_first_##kind(uint32_t *cursor, record *entry extra); \
    int qv_wlan_get_next_##kind(uint32_t *cursor, record *entry);
QV_WLAN_ENTRY_KINDS(QV_WLAN_DECLARE_KIND)

/*
 * Releases one reference of a row block. `record` is the record's address
 * inside the block: the 32-bit count sits in the four bytes before it and the
 * block (from the count on) came from malloc. Frees the block with free()
 * when the count reaches zero. The module does not use the result.
 */
int qv_free_ref_mem(void *record);

/* What a data source exports: the ten functions, qv_free_ref_mem and its
 * snmpd entry point. Everything else of it should stay hidden. */
#define QV_WLAN_DATASOURCE_API __attribute__((visibility("default")))

/*
 * Row blocks, as the module allocates them:
 *   [32-bit count][record][32-bit cursor]
 * Every pointer the data source sees is the record's address.
 */
static inline uint32_t *qv_wlan_block_count(void *record) {
    return (uint32_t *)((unsigned char *)record - sizeof(uint32_t));
}

static inline uint32_t *qv_wlan_block_cursor(void *record, size_t record_size) {
    return (uint32_t *)((unsigned char *)record + record_size);
}

/* The standard release: one reference less, the block freed at zero. Returns
 * the references left. */
static inline uint32_t qv_wlan_release_block(void *record) {
    uint32_t *count = qv_wlan_block_count(record);
    uint32_t left = --*count;
    if (left == 0) free(count);
    return left;
}

/*
 * The module finds the data-source functions among the process's global
 * symbols. A data source loaded by snmpd's dlmod is not global by itself:
 * this re-opens it with RTLD_GLOBAL. 0 on success. (qv_wlan_kit.c)
 */
__attribute__((visibility("hidden"))) int qv_wlan_promote_to_global(void);

/* snmpd's entry point for `dlmod <name> /path/<name>.so`, loaded before the
 * module: makes the data source's symbols global. */
#define QV_WLAN_DLMOD_ENTRY(name) \
    QV_WLAN_DATASOURCE_API void init_##name(void) { qv_wlan_promote_to_global(); }

#ifdef __cplusplus
}
#endif

#endif /* QV_WLAN_DATASOURCE_H */
