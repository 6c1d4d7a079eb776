// SPDX-License-Identifier: BSD-3-Clause
#include "fake_source.h"

#include "datasource/qv_wlan_datasource.h"

#include <dlfcn.h>
#include <string.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

extern "C" void *__real_malloc(size_t size);
extern "C" void *__real_calloc(size_t n, size_t size);
extern "C" void __real_free(void *p);

namespace fake {

std::vector<Table> tables;
std::vector<Row> rows[5];
std::string events, logged;
std::vector<void *> allocs, frees;
std::vector<std::string> problems;
unsigned fail_at;

namespace {
std::map<void *, size_t> blocks;   // malloc'd, by start: size
std::set<void *> counted, callocs; // counted: a fetch succeeded into it, only qv_free_ref_mem may free it
void *filled;                      // record of the row handed out last
uint8_t *newest;                   // block malloc'd last
size_t at[5];                      // per table: position of the row handed out last
uint32_t written[5];               // per table: cursor written last

int on_log(int, int, void *message, void *) {
    auto *m = static_cast<snmp_log_message *>(message);
    return logged += std::to_string(m->priority) + ":" + m->msg, 0;
}

int32_t int32_at(const void *p) {
    int32_t v;
    return memcpy(&v, p, 4), v;
}

#define QV_SYMBOL(type, name) reinterpret_cast<type *>(symbol(name))

bool fail_now() { return fail_at && --fail_at == 0 && (events += 'x', true); }

int fetch(size_t t, bool first, uint32_t *cursor, void *record) {
    auto *start = static_cast<uint8_t *>(record) - 4;
    const Table &table = tables[t];
    if (!blocks.count(start) || blocks[start] != table.size + 8 || counted.count(start) ||
        reinterpret_cast<uint8_t *>(cursor) != start + 4 + table.size)
        problems.push_back(table.name + ": record not 4 bytes into a fresh block, or cursor not after it");
    if (!first && *cursor != written[t]) problems.push_back(table.name + ": next given a cursor it did not write");
    events += first ? 'g' : 'n';
    at[t] = first ? 0 : at[t] + 1;
    if (at[t] >= rows[t].size() || rows[t][at[t]].result) return at[t] >= rows[t].size() ? 1 : rows[t][at[t]].result;
    memcpy(record, rows[t][at[t]].record.data(), table.size);
    *cursor = written[t] = rows[t][at[t]].cursor;
    if (blocks.count(start)) counted.insert(start);
    return filled = record, 0;
}
} // namespace

std::vector<std::vector<std::string>> tsv(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<std::vector<std::string>> out;
    for (std::string line, field; std::getline(in, line);) {
        std::stringstream fields(line);
        if (line.empty() || line[0] == '#' || line.rfind("table\t", 0) == 0) continue;
        for (out.emplace_back(); std::getline(fields, field, '\t');) out.back().push_back(field);
    }
    return out;
}

void load(const std::string &dir) {
    if (!tables.empty()) return;
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, on_log, nullptr);
    snmp_enable_calllog();
    init_agent("qv_fake");
    for (auto &r : tsv(dir + "/tables.tsv")) {
        tables.push_back({r[0], unsigned(std::stoul(r[1])), 0, std::stoul(r[3]), r[4] == "first+mac",
                          QV_SYMBOL(Netsnmp_Node_Handler, r[0] + "_handler")});
        netsnmp_iterator_info &callbacks = tables.back().callbacks;
        callbacks.get_first_data_point = QV_SYMBOL(Netsnmp_First_Data_Point, r[0] + "_get_first_data_point");
        callbacks.get_next_data_point = QV_SYMBOL(Netsnmp_Next_Data_Point, r[0] + "_get_next_data_point");
        callbacks.make_data_context = QV_SYMBOL(Netsnmp_Make_Data_Context, r[7]);
        callbacks.free_data_context = QV_SYMBOL(Netsnmp_Free_Data_Context, r[8]);
        callbacks.free_loop_context_at_end = QV_SYMBOL(Netsnmp_Free_Loop_Context, r[9]);
    }
    for (auto &c : tsv(dir + "/columns.tsv"))
        for (Table &t : tables)
            if (t.name == c[0]) t.columns.push_back({c[4], std::stoul(c[5]), std::stoul(c[6])}); // in column order
    for (Table &t : tables) t.last = unsigned(t.columns.size());
    if (tables.size() != 5) abort(); // no reference, no test
}

void *symbol(const std::string &name) { return dlsym(RTLD_DEFAULT, name.c_str()); }

size_t live() { return blocks.size(); }

void reset() {
    for (auto &r : rows) r.clear();
    events.clear(), logged.clear(), frees.clear(), problems.clear(), blocks.clear(), counted.clear(), callocs.clear();
    fail_at = 0, filled = newest = nullptr;
}

void Requests::add(void *row, int col, bool processed) {
    netsnmp_request_info &r = list[n];
    r.processed = processed;
    snmp_varlist_add_variable(&r.requestvb, nullptr, 0, ASN_NULL, nullptr, 0);
    if (row) netsnmp_request_add_list_data(&r, netsnmp_create_data_list(TABLE_ITERATOR_NAME, row, nullptr));
    columns[n].colnum = unsigned(col);
    if (col >= 0) netsnmp_request_add_list_data(&r, netsnmp_create_data_list(TABLE_HANDLER_NAME, &columns[n], nullptr));
    if (n++) list[n - 2].next = &r;
}

std::vector<void *> walk(const Table &t, const std::string &script) {
    auto fault = [&](bool bad, const char *what) {
        if (bad) problems.push_back(t.name + " " + script + ": " + what);
    };
    netsnmp_variable_list *indexes = nullptr;
    snmp_varlist_add_variable(&indexes, nullptr, 0, ASN_INTEGER, nullptr, 0);
    if (t.mac_index) snmp_varlist_add_variable(&indexes, nullptr, 0, ASN_OCTET_STR, nullptr, 0);
    void *loop = nullptr, *data = &loop;
    std::vector<void *> kept;
    for (char s : script) {
        const auto *rec = static_cast<const uint8_t *>(loop);
        if (s == 'x') fail_at = 1;
        if (s == 'L') t.callbacks.free_loop_context_at_end(loop, nullptr), loop = nullptr;
        if (s == 'D' && !kept.empty()) t.callbacks.free_data_context(kept.front(), nullptr), kept.erase(kept.begin());
        if (s == 'K') fault(t.callbacks.make_data_context(loop, nullptr) != loop, "data context not the loop context");
        if (s == 'K' && loop) kept.push_back(loop);
        if (s != 'F' && s != 'N') continue;
        netsnmp_variable_list *row = (s == 'F' ? t.callbacks.get_first_data_point
                                               : t.callbacks.get_next_data_point)(&loop, &data, indexes, nullptr);
        fault(data != &loop || loop != (row ? filled : nullptr), "loop context not the filled record, or data written");
        if (!(rec = static_cast<const uint8_t *>(loop))) continue;
        // Association: record bytes 0-3, then 4-9; the others: the cursor after the record.
        const netsnmp_variable_list *mac = indexes->next_variable;
        fault(row != indexes || *indexes->val.integer != int32_at(t.mac_index ? rec : rec + t.size) ||
                  (t.mac_index && (mac->val_len != 6 || memcmp(mac->val.string, rec + 4, 6) != 0)),
              "index values");
    }
    if (loop) t.callbacks.free_loop_context_at_end(loop, nullptr);
    fail_at = 0;
    return snmp_free_varbind(indexes), kept;
}

bool answers(const Column &c, const uint8_t *record, const netsnmp_variable_list *vb) {
    const uint8_t *field = record + c.offset;
    const int32_t number = int32_at(field);
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
    blocks[p] = size, allocs.push_back(newest = p);
    return events += 'm', p;
}

void *__wrap_calloc(size_t n, size_t size) {
    if (fail_now()) return nullptr;
    void *p = __real_calloc(n, size);
    allocs.push_back(p), callocs.insert(p);
    return events += 'c', p;
}

void __wrap_free(void *p) {
    if (counted.count(p)) problems.push_back("free() of a counted row block");
    if (blocks.count(p) || callocs.count(p))
        events += 'f', frees.push_back(p), blocks.erase(p), counted.erase(p), callocs.erase(p);
    __real_free(p);
}

int qv_free_ref_mem(void *record) {
    auto *start = static_cast<uint8_t *>(record) - 4;
    if (!counted.count(start))
        return problems.push_back("qv_free_ref_mem given what is not a counted row's record"), -1;
    const size_t size = blocks[start];
    // A next-row call copies the cursor into its new block before it releases the previous row.
    if (newest != start && blocks.count(newest) && !counted.count(newest) && blocks[newest] == size &&
        memcmp(newest + size - 4, start + size - 4, 4) != 0)
        problems.push_back("previous row released before its cursor was copied");
    uint32_t count = uint32_t(int32_at(start));
    if (count == 0 || count > 1000) problems.push_back("release of a row whose count is " + std::to_string(count));
    memcpy(start, &--count, 4);
    events += count ? 'r' : 'R';
    if (count == 0) memset(start, 0xA5, size), blocks.erase(start), counted.erase(start), __real_free(start);
    return 0;
}

int qv_wlan_get_first_ass(uint32_t *cursor, qv_wlan_ass_entry *entry, int flag) {
    if (flag != 1) problems.push_back("qv_wlan_get_first_ass given " + std::to_string(flag) + ", not 1");
    return fetch(1, true, cursor, entry);
}
int qv_wlan_get_next_ass(uint32_t *cursor, qv_wlan_ass_entry *entry) { return fetch(1, false, cursor, entry); }
#define QV_FAKE_KIND(t, kind, record)                                                                       \
    int qv_wlan_get_first_##kind(uint32_t *cursor, record *entry) { return fetch(t, true, cursor, entry); } \
    int qv_wlan_get_next_##kind(uint32_t *cursor, record *entry) { return fetch(t, false, cursor, entry); }
QV_FAKE_KIND(0, if, qv_wlan_if_entry)
QV_FAKE_KIND(2, radio_statis_entry, qv_wlan_radio_statis_entry)
QV_FAKE_KIND(3, virtual_statis_entry, qv_wlan_virtual_statis_entry)
QV_FAKE_KIND(4, radio_attr_entry, qv_wlan_radio_attr_entry)
}
