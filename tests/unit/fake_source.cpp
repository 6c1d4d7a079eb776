#include "fake_source.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <map>
#include <sstream>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t n, size_t size);
void __real_free(void *p);
}

namespace fake {

std::vector<Table> tables;
std::vector<Row> rows[5];
std::string events;
std::vector<void *> allocs, frees;
std::vector<std::string> problems;
unsigned fail_at;
void *filled;

namespace {
struct Block {
    size_t size;
    bool counted; // a fetch succeeded into it: only qv_free_ref_mem may free it
};
std::map<void *, Block> blocks; // malloc'd
std::map<void *, bool> callocs;
uint8_t *newest;       // block malloc'd last
size_t at[5];          // position of the row handed out last, per table
uint32_t written[5];   // cursor written last, per table

std::vector<std::vector<std::string>> tsv(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> out;
    for (std::string line, field; std::getline(in, line);) {
        if (line.empty() || line[0] == '#' || line.rfind("table\t", 0) == 0) continue;
        std::stringstream fields(line);
        out.emplace_back();
        while (std::getline(fields, field, '\t')) out.back().push_back(field);
    }
    return out;
}

bool fail_now() {
    if (!fail_at || --fail_at) return false;
    events += 'x';
    return true;
}

int fetch(size_t t, bool first, uint32_t *cursor, void *record) {
    const Table &table = tables[t];
    auto *start = static_cast<uint8_t *>(record) - 4;
    auto block = blocks.find(start);
    if (block == blocks.end() || block->second.size != table.size + 8 || block->second.counted ||
        reinterpret_cast<uint8_t *>(cursor) != start + 4 + table.size)
        problems.push_back(table.name + ": record not 4 bytes into a fresh block, cursor not after it");
    events += first ? 'g' : 'n';
    if (!first && *cursor != written[t]) problems.push_back(table.name + ": next function given a cursor it did not write");
    at[t] = first ? 0 : at[t] + 1;
    if (at[t] >= rows[t].size()) return 1;
    const Row &row = rows[t][at[t]];
    if (row.result) return row.result;
    memcpy(record, row.record.data(), table.size);
    *cursor = written[t] = row.cursor;
    if (block != blocks.end()) block->second.counted = true;
    filled = record;
    return 0;
}
} // namespace

void load(const std::string &dir) {
    for (auto &ref : tsv(dir + "/tables.tsv")) {
        Table t{ref, ref[0], unsigned(std::stoul(ref[1])), unsigned(std::stoul(ref[2])), std::stoul(ref[4]),
                ref[5] == "first+mac"};
        t.first = reinterpret_cast<Netsnmp_First_Data_Point *>(symbol(t.name + "_get_first_data_point"));
        t.next = reinterpret_cast<Netsnmp_Next_Data_Point *>(symbol(t.name + "_get_next_data_point"));
        t.keep = reinterpret_cast<Netsnmp_Make_Data_Context *>(symbol(ref[8]));
        t.data_free = reinterpret_cast<Netsnmp_Free_Data_Context *>(symbol(ref[9]));
        t.loop_free = reinterpret_cast<Netsnmp_Free_Loop_Context *>(symbol(ref[10]));
        t.handler = reinterpret_cast<Netsnmp_Node_Handler *>(symbol(t.name + "_handler"));
        tables.push_back(t);
    }
    for (auto &c : tsv(dir + "/columns.tsv"))
        for (Table &t : tables)
            if (t.name == c[0]) t.columns.push_back({unsigned(std::stoul(c[2])), c[4], std::stoul(c[5]), std::stoul(c[6])});
    if (tables.size() != 5) abort(); // no reference, no test
}

void *symbol(const std::string &name) { return dlsym(RTLD_DEFAULT, name.c_str()); }

size_t live() { return blocks.size(); }

void reset() {
    for (auto &r : rows) r.clear();
    events.clear();
    allocs.clear();
    frees.clear();
    problems.clear();
    blocks.clear();
    callocs.clear();
    fail_at = 0;
    filled = newest = nullptr;
}

bool answers(const Column &c, const uint8_t *record, const netsnmp_variable_list *vb) {
    const uint8_t *field = record + c.offset;
    int32_t number;
    memcpy(&number, field, 4);
    if (c.value == "integer") return vb->type == ASN_INTEGER && *vb->val.integer == number;
    if (c.value == "counter32") return vb->type == ASN_COUNTER && *vb->val.integer == long(uint32_t(number));
    const size_t length = c.value == "string" ? strnlen(reinterpret_cast<const char *>(field), c.room) : c.room;
    return vb->type == (c.value == "ipaddress" ? ASN_IPADDRESS : ASN_OCTET_STR) && vb->val_len == length &&
           memcmp(vb->val.string, field, length) == 0;
}

} // namespace fake

using namespace fake;

extern "C" {
void *__wrap_malloc(size_t size) {
    if (fail_now()) return nullptr;
    auto *p = static_cast<uint8_t *>(__real_malloc(size));
    memset(p, 0xA5, size); // what the module leaves unwritten is visibly so
    blocks[p] = {size, false};
    allocs.push_back(newest = p);
    events += 'm';
    return p;
}

void *__wrap_calloc(size_t n, size_t size) {
    if (fail_now()) return nullptr;
    void *p = __real_calloc(n, size);
    allocs.push_back(p);
    callocs[p] = true;
    events += 'c';
    return p;
}

void __wrap_free(void *p) {
    auto block = blocks.find(p);
    if (block != blocks.end() && block->second.counted) problems.push_back("free() of a counted row block");
    if (block != blocks.end() || callocs.erase(p)) {
        if (block != blocks.end()) blocks.erase(block);
        events += 'f';
        frees.push_back(p);
    }
    __real_free(p);
}

int qv_free_ref_mem(void *record) {
    auto *start = static_cast<uint8_t *>(record) - 4;
    auto block = blocks.find(start);
    if (block == blocks.end() || !block->second.counted) {
        problems.push_back("qv_free_ref_mem given what is not the record of a counted row");
        return -1;
    }
    const size_t size = block->second.size;
    // A next-row call copies the cursor into its new block before it releases the previous row.
    auto fresh = blocks.find(newest);
    if (fresh != blocks.end() && fresh->first != start && !fresh->second.counted && fresh->second.size == size &&
        memcmp(newest + size - 4, start + size - 4, 4) != 0)
        problems.push_back("previous row released before its cursor was copied");
    uint32_t count;
    memcpy(&count, start, 4);
    if (count == 0 || count > 1000) problems.push_back("release of a row whose count is " + std::to_string(count));
    --count;
    memcpy(start, &count, 4);
    events += count ? 'r' : 'R';
    if (count == 0) {
        memset(start, 0xA5, size);
        blocks.erase(block);
        __real_free(start);
    }
    return 0;
}

#define QV_FAKE_KIND(t, first_name, next_name)                                                              \
    int first_name(uint32_t *cursor, void *record) { return fetch(t, true, cursor, record); }                  \
    int next_name(uint32_t *cursor, void *record) { return fetch(t, false, cursor, record); }
QV_FAKE_KIND(0, qv_wlan_get_first_if, qv_wlan_get_next_if)
QV_FAKE_KIND(2, qv_wlan_get_first_radio_statis_entry, qv_wlan_get_next_radio_statis_entry)
QV_FAKE_KIND(3, qv_wlan_get_first_virtual_statis_entry, qv_wlan_get_next_virtual_statis_entry)
QV_FAKE_KIND(4, qv_wlan_get_first_radio_attr_entry, qv_wlan_get_next_radio_attr_entry)
int qv_wlan_get_first_ass(uint32_t *cursor, void *record, int flag) {
    if (flag != 1) problems.push_back("qv_wlan_get_first_ass given " + std::to_string(flag) + ", not 1");
    return fetch(1, true, cursor, record);
}
int qv_wlan_get_next_ass(uint32_t *cursor, void *record) { return fetch(1, false, cursor, record); }
}
