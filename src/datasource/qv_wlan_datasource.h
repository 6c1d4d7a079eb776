/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * The wireless data source: the device maker's library that the module
 * resolves from the host agent process at load time, and the kit every data
 * source in this tree is written with. Usable from C11 or later (it needs
 * _Static_assert; GCC's default gnu17 will do) and from C++11 or later.
 *
 * Records: one per kind of entry, each in its table's header under tables/,
 * laid out byte for byte, 32-bit numbers in the processor's native byte order,
 * MAC addresses in transmission order, the IPv4 address in network order.
 * Their meanings are the DESCRIPTIONs of mibs/QV-WLAN-MIB.txt: the module
 * serves every byte as stored, so what a data source writes is what operators
 * read.
 *
 * A data source implements, for each kind of entry, a first and a next
 * function and the reference release qv_free_ref_mem, exported with
 * QV_WLAN_DATASOURCE_API:
 *
 *   int qv_wlan_get_first_<kind>(uint32_t *cursor, <record> *entry);
 *   int qv_wlan_get_next_<kind>(uint32_t *cursor, <record> *entry);
 *
 * 0 means an entry was copied into *entry and *cursor now identifies it;
 * anything else means no entry. The first function only writes the cursor
 * (it holds no value on entry); the next function reads the previous entry's
 * cursor and overwrites it. qv_wlan_get_first_ass takes a third argument,
 * reserved, always 1: ignore it.
 *
 * The whole contract:
 *
 * - Blocks are the module's. For every row the module mallocs one block,
 *   [32-bit count][record][32-bit cursor], not cleared, and passes pointers to
 *   its record and cursor. The data source fills the record and the cursor,
 *   nothing else: it never allocates or keeps a block and never writes the
 *   count. Bytes of the record it leaves unwritten hold garbage.
 * - The count is the module's too: set to 1 after a successful fill, raised
 *   for every request that keeps the row (so it can exceed 1). The module
 *   calls qv_free_ref_mem(record) once per release; it must subtract one and
 *   free the block, from the count on, at zero (qv_wlan_release_block). A
 *   block whose fill failed is freed by the module with free(), never through
 *   qv_free_ref_mem.
 * - The previous row is released before the next function is called, and
 *   rows kept by requests outlive the walk. So a snapshot the data source
 *   walks must not live only as long as rows are held: the count of every row
 *   can reach zero between two calls of one walk.
 * - Rows need not be sorted: the agent sorts them by index. A next call
 *   whose cursor has vanished meanwhile (the entry went away) returns the
 *   entry that followed it, or nonzero to end the walk; it never starts over
 *   from the first entry, which would send the walk in circles. Every
 *   GETNEXT and GETBULK repetition walks from the first row again, so find
 *   the next row from the cursor in O(1).
 * - Interfaces, radio statistics, virtual interface statistics, radio
 *   attributes: the cursor is the row's index, unique within a walk and in
 *   0..2^31-1 (the agent reads larger values as negative INTEGER indexes).
 * - Associations: the cursor is private, no part of the index. The index is
 *   (first_index, qvClientMac): first_index is the cursor, i.e. the qvXIfTable
 *   index, of the interface the client is associated through, in 0..2^31-1.
 *   The pair is unique within a walk: a second row with the same pair is
 *   silently hidden.
 * - Strings: a char field's room is its array size in the record (qvIfName
 *   char[17]: room 17 bytes). It holds at most room - 1 bytes (qvIfName: 16,
 *   the MIB's SIZE (0..16)), then a NUL inside the room. A room without a NUL
 *   is served whole, one byte longer than the MIB allows, and
 *   strncpy(dst, src, sizeof dst) does exactly that for a long source: write
 *   snprintf(dst, sizeof dst, "%s", src) instead.
 * - The tables agree with each other; monitoring joins them on these rules:
 *   . one radio has the same index (cursor) in the radio statistics and the
 *     radio attribute tables, and both list the same radios;
 *   . an association's qvClientChannel is the qvRadioChannel of the radio
 *     serving the client (clients are matched to radios by channel, so two
 *     radios of one access point on one channel cannot be told apart);
 *   . a virtual interface's statistics row has the index of the interface's
 *     qvXIfTable row; an interface may have none (a radio's own interface);
 *   . the radio tables number radios, not interfaces: a radio's index need
 *     not be any qvXIfTable index. A driver that presents a radio as an
 *     interface of its own (usually without SSID) lists it in qvXIfTable like
 *     any interface; one that does not, lists only the real interfaces.
 * - One thread: every call comes from the agent's request-processing thread,
 *   one at a time.
 * - Loading: the module's references to these functions are resolved when
 *   snmpd opens it, from the process's global symbols. Either preload the
 *   data source (LD_PRELOAD), or load it with `dlmod <name> PATH` before the
 *   module's dlmod line and define its entry with QV_WLAN_DLMOD_ENTRY(<name>),
 *   which re-opens it with global scope. Done otherwise, snmpd logs
 *   "dlopen(.../qv_if_iterate.so) failed: ...: undefined symbol: qv_wlan_..."
 *   (preceded by "dlsym failed: can't find 'init_<name>'" when the dlmod'ed
 *   data source has no entry) and runs on without the tables. When the
 *   entry cannot promote the library it logs "<name>: cannot make data-source
 *   symbols global: <reason>". scripts/check-datasource.sh LIB lists the
 *   functions a built library does not export.
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

/* Promotes the data source to global symbols; when that fails, logs
 * "<name>: cannot make data-source symbols global: <reason>" through snmpd's
 * snmp_log (standard error outside snmpd) at error priority. (qv_wlan_kit.c) */
__attribute__((visibility("hidden"))) void qv_wlan_dlmod_init(const char *name);

/* snmpd's entry point for `dlmod <name> /path/<name>.so`, loaded before the
 * module: makes the data source's symbols global, or says why not. */
#define QV_WLAN_DLMOD_ENTRY(name) \
    QV_WLAN_DATASOURCE_API void init_##name(void) { qv_wlan_dlmod_init(#name); }

#ifdef __cplusplus
}
#endif

#endif /* QV_WLAN_DATASOURCE_H */
