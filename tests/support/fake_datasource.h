/*
 * A programmable stand-in for the wireless data source, for in-process tests
 * of the module. It defines the ten qv_wlan_get_first_* / qv_wlan_get_next_*
 * functions and qv_free_ref_mem, and it watches the module's heap use through
 * the linker's --wrap of malloc, calloc and free (see alloc_wrap.cpp), so a
 * test can see every row block from allocation to release.
 *
 * Contract checks that the fake makes on its own (reported by violations()):
 * - a record handed to a first/next function must sit 4 bytes into a block
 *   that the module got from malloc, of the table's block size, with the
 *   cursor directly after the record;
 * - qv_free_ref_mem must get the record address of a block whose fetch
 *   succeeded, and its count must not already be zero;
 * - a block whose fetch succeeded must never be given to free() directly;
 * - a next function must get a cursor that the fake itself wrote.
 */
#ifndef QV_TEST_FAKE_DATASOURCE_H
#define QV_TEST_FAKE_DATASOURCE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace qvtest {

enum class Table { XIf = 0, Ass, RadioStats, VIf, RadioAttr };
constexpr int table_count = 5;

/* Record sizes as the data source lays the records out. */
constexpr size_t record_size(Table t) {
    switch (t) {
    case Table::XIf: return 68;
    case Table::Ass: return 484;
    case Table::RadioStats: return 96;
    case Table::VIf: return 72;
    case Table::RadioAttr: return 24;
    }
    return 0;
}
constexpr size_t block_size(Table t) { return record_size(t) + 8; }

struct Entry {
    std::vector<unsigned char> record; /* exactly record_size bytes */
    uint32_t cursor;
};

enum class Ev {
    Malloc,  /* size, ptr (null when injected failure) */
    Calloc,  /* size = n * size, ptr */
    Free,    /* ptr = block start; via_release tells who freed it */
    First,   /* table, record, cursor_addr, flag (third argument of the association kind), result */
    Next,    /* table, record, cursor_addr, cursor_in, result */
    Release, /* ptr = record address, count_after */
};

struct Event {
    Ev kind;
    Table table = Table::XIf;
    void *ptr = nullptr;
    size_t size = 0;
    uint32_t *cursor_addr = nullptr;
    uint32_t cursor_in = 0;
    int flag = 0;
    int result = 0;
    uint32_t count_after = 0;
    bool via_release = false;
    size_t live_blocks = 0; /* module blocks alive when the event happened */
};

namespace fake {

/* Forget entries, scripted results, events, violations and armed failures. */
void reset();

void set_entries(Table t, std::vector<Entry> entries);
/* The k-th first/next call (1-based, counted per table since reset) returns
 * `code` and writes nothing. */
void fail_call(Table t, unsigned k, int code);

/* Events are recorded only while recording is on. */
void record(bool on);
const std::vector<Event> &events();
std::vector<Event> events_of(Ev kind);
void clear_events();

std::vector<std::string> violations();

/* Row blocks currently allocated by the module (malloc'd and not freed). */
size_t live_blocks();
/* The count word of a live row, by record address (0 if unknown). */
uint32_t count_of(const void *record);
bool is_live_record(const void *record);

/* Data-source calls made since reset, per table. */
unsigned calls(Table t);

} // namespace fake

namespace alloc {
/* The k-th malloc/calloc made from now on through the wrapped allocator
 * (1-based) returns null. 0 disarms. */
void fail_malloc_at(unsigned k);
void fail_calloc_at(unsigned k);
void disarm();
unsigned malloc_calls();
unsigned calloc_calls();
} // namespace alloc

/* Record builders: a pattern that makes every 4-byte field recognisable. */
std::vector<unsigned char> offset_pattern(Table t);
void put_u32(std::vector<unsigned char> &rec, size_t off, uint32_t v);
uint32_t get_u32(const unsigned char *p);
void put_bytes(std::vector<unsigned char> &rec, size_t off, const void *bytes, size_t n);

} // namespace qvtest

#endif
