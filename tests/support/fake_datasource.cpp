// The fake data source and the heap watch behind it. Everything here runs on
// the test's single thread, like the agent's request processing.
#include "fake_datasource.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>

#include "datasource/qv_wlan_datasource.h"

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t n, size_t size);
void __real_free(void *p);
void *__wrap_malloc(size_t size);
void *__wrap_calloc(size_t n, size_t size);
void __wrap_free(void *p);
}

namespace qvtest {
namespace {

struct Block {
    size_t size;
    bool filled = false; /* a fetch succeeded into it: it is counted from now on */
    Table table = Table::XIf;
};

struct State {
    std::vector<Entry> entries[table_count];
    std::map<unsigned, int> scripted[table_count]; /* call number -> result */
    unsigned calls[table_count] = {};
    bool recording = false;
    std::vector<Event> events;
    std::vector<std::string> violations;
    std::map<void *, Block> blocks; /* module mallocs, by block start */
    unsigned malloc_calls = 0, calloc_calls = 0;
    unsigned fail_malloc = 0, fail_calloc = 0;
};

State &state() {
    static State *s = new State; // never destroyed: the wrappers may run at exit
    return *s;
}

void note(Event e) {
    State &s = state();
    if (!s.recording) return;
    e.live_blocks = s.blocks.size();
    s.events.push_back(e);
}

void violation(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void violation(const char *fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    state().violations.emplace_back(buf);
}

// Checks that the module handed over a record inside one of its blocks, laid
// out as [count][record][cursor]; returns the block or null.
Block *check_record(Table t, const char *fn, uint32_t *cursor, void *record) {
    State &s = state();
    auto *start = static_cast<unsigned char *>(record) - 4;
    auto it = s.blocks.find(start);
    if (it == s.blocks.end()) {
        violation("%s: record %p is not 4 bytes into a block from malloc", fn, record);
        return nullptr;
    }
    if (it->second.size != block_size(t))
        violation("%s: block of %zu bytes, expected %zu", fn, it->second.size, block_size(t));
    if (reinterpret_cast<unsigned char *>(cursor) != static_cast<unsigned char *>(record) + record_size(t))
        violation("%s: cursor %p is not directly after the record %p", fn, static_cast<void *>(cursor), record);
    it->second.table = t;
    return &it->second;
}

int scripted_result(Table t, bool *scripted) {
    State &s = state();
    unsigned n = ++s.calls[static_cast<int>(t)];
    auto &m = s.scripted[static_cast<int>(t)];
    auto it = m.find(n);
    *scripted = it != m.end();
    return *scripted ? it->second : 0;
}

void fill(Table t, const Entry &e, uint32_t *cursor, void *record, Block *block) {
    if (e.record.size() != record_size(t)) {
        violation("test bug: entry of %zu bytes for a %zu-byte record", e.record.size(), record_size(t));
        return;
    }
    memcpy(record, e.record.data(), e.record.size());
    *cursor = e.cursor;
    if (block) block->filled = true;
}

int first(Table t, const char *fn, uint32_t *cursor, void *record, int flag) {
    Block *block = check_record(t, fn, cursor, record);
    bool scripted;
    int result = scripted_result(t, &scripted);
    const auto &list = state().entries[static_cast<int>(t)];
    if (!scripted) {
        if (list.empty())
            result = 1;
        else
            fill(t, list.front(), cursor, record, block);
    }
    Event e{Ev::First};
    e.table = t;
    e.ptr = record;
    e.cursor_addr = cursor;
    e.flag = flag;
    e.result = result;
    note(e);
    return result;
}

int next(Table t, const char *fn, uint32_t *cursor, void *record) {
    Block *block = check_record(t, fn, cursor, record);
    const uint32_t in = *cursor;
    bool scripted;
    int result = scripted_result(t, &scripted);
    if (!scripted) {
        const auto &list = state().entries[static_cast<int>(t)];
        size_t i = 0;
        while (i < list.size() && list[i].cursor != in) ++i;
        if (i == list.size()) {
            violation("%s: cursor %u was never written by the data source", fn, in);
            result = 1;
        } else if (i + 1 == list.size()) {
            result = 1; /* end of the walk */
        } else {
            fill(t, list[i + 1], cursor, record, block);
        }
    }
    Event e{Ev::Next};
    e.table = t;
    e.ptr = record;
    e.cursor_addr = cursor;
    e.cursor_in = in;
    e.result = result;
    note(e);
    return result;
}

} // namespace

namespace fake {

void reset() {
    State &s = state();
    for (int i = 0; i < table_count; ++i) {
        s.entries[i].clear();
        s.scripted[i].clear();
        s.calls[i] = 0;
    }
    s.events.clear();
    s.violations.clear();
    s.recording = false;
    s.fail_malloc = s.fail_calloc = 0;
    // Blocks still tracked were leaked by an earlier test, which has failed
    // for it already; forget them so that one leak fails one test.
    s.blocks.clear();
}

void set_entries(Table t, std::vector<Entry> entries) { state().entries[static_cast<int>(t)] = std::move(entries); }

void fail_call(Table t, unsigned k, int code) { state().scripted[static_cast<int>(t)][k] = code; }

void record(bool on) { state().recording = on; }
const std::vector<Event> &events() { return state().events; }
std::vector<Event> events_of(Ev kind) {
    std::vector<Event> out;
    for (const Event &e : state().events)
        if (e.kind == kind) out.push_back(e);
    return out;
}
void clear_events() { state().events.clear(); }

std::vector<std::string> violations() { return state().violations; }

size_t live_blocks() { return state().blocks.size(); }

uint32_t count_of(const void *record) {
    if (!is_live_record(record)) return 0;
    return get_u32(static_cast<const unsigned char *>(record) - 4);
}

bool is_live_record(const void *record) {
    auto *start = const_cast<unsigned char *>(static_cast<const unsigned char *>(record) - 4);
    return state().blocks.count(start) != 0;
}

unsigned calls(Table t) { return state().calls[static_cast<int>(t)]; }

} // namespace fake

namespace alloc {
void fail_malloc_at(unsigned k) { state().fail_malloc = k ? state().malloc_calls + k : 0; }
void fail_calloc_at(unsigned k) { state().fail_calloc = k ? state().calloc_calls + k : 0; }
void disarm() { state().fail_malloc = state().fail_calloc = 0; }
unsigned malloc_calls() { return state().malloc_calls; }
unsigned calloc_calls() { return state().calloc_calls; }
} // namespace alloc

std::vector<unsigned char> offset_pattern(Table t) {
    std::vector<unsigned char> rec(record_size(t));
    for (size_t off = 0; off + 4 <= rec.size(); off += 4) put_u32(rec, off, 0x00010000u + static_cast<uint32_t>(off));
    return rec;
}

void put_u32(std::vector<unsigned char> &rec, size_t off, uint32_t v) { memcpy(rec.data() + off, &v, 4); }

uint32_t get_u32(const unsigned char *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

void put_bytes(std::vector<unsigned char> &rec, size_t off, const void *bytes, size_t n) {
    memcpy(rec.data() + off, bytes, n);
}

} // namespace qvtest

using qvtest::Table;

extern "C" {

// Heap watch. --wrap redirects only the calls made from objects of the test
// executable (the module's objects, this support code, the tests); the
// Net-SNMP libraries keep the real allocator.
void *__wrap_malloc(size_t size) {
    auto &s = qvtest::state();
    ++s.malloc_calls;
    void *p = nullptr;
    if (s.fail_malloc && s.malloc_calls == s.fail_malloc) {
        s.fail_malloc = 0;
    } else {
        p = __real_malloc(size);
        if (p) s.blocks[p] = qvtest::Block{size};
    }
    qvtest::Event e{qvtest::Ev::Malloc};
    e.ptr = p;
    e.size = size;
    qvtest::note(e);
    return p;
}

void *__wrap_calloc(size_t n, size_t size) {
    auto &s = qvtest::state();
    ++s.calloc_calls;
    void *p = nullptr;
    if (s.fail_calloc && s.calloc_calls == s.fail_calloc)
        s.fail_calloc = 0;
    else
        p = __real_calloc(n, size);
    // calloc'd memory is registration data that the agent owns and frees with
    // its own (unwrapped) free, so it is not tracked as a row block.
    qvtest::Event e{qvtest::Ev::Calloc};
    e.ptr = p;
    e.size = n * size;
    qvtest::note(e);
    return p;
}

void __wrap_free(void *p) {
    auto &s = qvtest::state();
    if (p) {
        auto it = s.blocks.find(p);
        if (it != s.blocks.end()) {
            if (it->second.filled)
                qvtest::violation("a counted row block (%p) was given to free() instead of qv_free_ref_mem", p);
            s.blocks.erase(it);
        }
        qvtest::Event e{qvtest::Ev::Free};
        e.ptr = p;
        qvtest::note(e);
    }
    __real_free(p);
}

int qv_free_ref_mem(void *record) {
    auto &s = qvtest::state();
    auto *start = static_cast<unsigned char *>(record) - 4;
    auto it = s.blocks.find(start);
    if (!record || it == s.blocks.end() || !it->second.filled) {
        qvtest::violation("qv_free_ref_mem(%p): not the record of a counted row block", record);
        return -1;
    }
    uint32_t count = qvtest::get_u32(start);
    if (count == 0) {
        qvtest::violation("qv_free_ref_mem(%p): count already zero", record);
        return -1;
    }
    --count;
    memcpy(start, &count, 4);
    qvtest::Event e{qvtest::Ev::Release};
    e.table = it->second.table;
    e.ptr = record;
    e.count_after = count;
    qvtest::note(e);
    if (count == 0) {
        // Scribble first: a module that reads a row after its last release
        // (the cursor copy, an accessor) sees garbage rather than old data.
        memset(start, 0xA5, it->second.size);
        s.blocks.erase(it);
        qvtest::Event f{qvtest::Ev::Free};
        f.ptr = start;
        f.via_release = true;
        qvtest::note(f);
        __real_free(start);
    }
    return 0;
}

int qv_wlan_get_first_if(uint32_t *cursor, qv_wlan_if_entry *entry) {
    return qvtest::first(Table::XIf, "qv_wlan_get_first_if", cursor, entry, 0);
}
int qv_wlan_get_next_if(uint32_t *cursor, qv_wlan_if_entry *entry) {
    return qvtest::next(Table::XIf, "qv_wlan_get_next_if", cursor, entry);
}
int qv_wlan_get_first_ass(uint32_t *cursor, qv_wlan_ass_entry *entry, int flag) {
    return qvtest::first(Table::Ass, "qv_wlan_get_first_ass", cursor, entry, flag);
}
int qv_wlan_get_next_ass(uint32_t *cursor, qv_wlan_ass_entry *entry) {
    return qvtest::next(Table::Ass, "qv_wlan_get_next_ass", cursor, entry);
}
int qv_wlan_get_first_radio_statis_entry(uint32_t *cursor, qv_wlan_radio_statis_entry *entry) {
    return qvtest::first(Table::RadioStats, "qv_wlan_get_first_radio_statis_entry", cursor, entry, 0);
}
int qv_wlan_get_next_radio_statis_entry(uint32_t *cursor, qv_wlan_radio_statis_entry *entry) {
    return qvtest::next(Table::RadioStats, "qv_wlan_get_next_radio_statis_entry", cursor, entry);
}
int qv_wlan_get_first_virtual_statis_entry(uint32_t *cursor, qv_wlan_virtual_statis_entry *entry) {
    return qvtest::first(Table::VIf, "qv_wlan_get_first_virtual_statis_entry", cursor, entry, 0);
}
int qv_wlan_get_next_virtual_statis_entry(uint32_t *cursor, qv_wlan_virtual_statis_entry *entry) {
    return qvtest::next(Table::VIf, "qv_wlan_get_next_virtual_statis_entry", cursor, entry);
}
int qv_wlan_get_first_radio_attr_entry(uint32_t *cursor, qv_wlan_radio_attr_entry *entry) {
    return qvtest::first(Table::RadioAttr, "qv_wlan_get_first_radio_attr_entry", cursor, entry, 0);
}
int qv_wlan_get_next_radio_attr_entry(uint32_t *cursor, qv_wlan_radio_attr_entry *entry) {
    return qvtest::next(Table::RadioAttr, "qv_wlan_get_next_radio_attr_entry", cursor, entry);
}

} // extern "C"
