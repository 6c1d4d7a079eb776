// libFuzzer target for the module's row iteration and request handling.
//
// The module's objects are linked in-process with the real Net-SNMP agent
// libraries; only the wireless data source is fake and lives here. Each input
// describes, per table, the entries the data source returns (records, cursors,
// result codes, repeated cursors, entries that change between walks), which
// module malloc fails, and a series of requests. A request either goes through
// the real registration (table helper, table iterator, bulk-to-next) exactly
// as the agent calls it, or straight to the table's handler with a request list
// built like the iterator builds it, with rows fetched by the module's own
// callbacks and walks stopped early at any point.
//
// After every input: no row block is left, every release matched a reference,
// every cursor handed to a next function was the one the data source wrote,
// and every value answered lies inside a record that the data source returned.
// Any violation aborts, so libFuzzer records the input as a crash.

#include <fuzzer/FuzzedDataProvider.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <unordered_set>
#include <vector>

#include "core/qv_if_iterate.h"
#include "tables/qv_tables.h"

namespace {

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "qv_fuzz: invariant violated: %s\n", what);
    abort();
}

// ---------------------------------------------------------------------------
// Allocation tracking. The module's objects are linked with --wrap=malloc and
// --wrap=free; Net-SNMP lives in shared libraries and is not affected. Only
// calls made while `armed` are counted, so the harness's own allocations are
// never failed.

bool armed = false;
unsigned long mallocs_seen = 0;
unsigned long fail_at = 0; // 1-based index of the armed malloc to fail; 0: none
unsigned long fail_every = 0; // additionally fail every Nth armed malloc; 0: never
std::unordered_set<void *> *live_blocks;
unsigned long injected_failures = 0;

} // namespace

extern "C" void *__real_malloc(size_t size);
extern "C" void __real_free(void *ptr);

extern "C" void *__wrap_malloc(size_t size) {
    if (!armed) return __real_malloc(size);
    ++mallocs_seen;
    if ((fail_at && mallocs_seen == fail_at) || (fail_every && mallocs_seen % fail_every == 0)) {
        ++injected_failures;
        return nullptr;
    }
    void *block = __real_malloc(size);
    if (block) live_blocks->insert(block);
    return block;
}

extern "C" void __wrap_free(void *ptr) {
    if (ptr && live_blocks) live_blocks->erase(ptr);
    __real_free(ptr);
}

namespace {

// ---------------------------------------------------------------------------
// The fake data source.

struct Entry {
    int rc;           // 0: entry copied; anything else: no entry
    uint32_t cursor;  // what the data source writes as the cursor
    std::vector<unsigned char> record;
};

struct FakeTable {
    const qv::TableDef *def;
    std::vector<Entry> entries;
    size_t position = 0;      // index of the entry returned last
    bool walking = false;
    uint32_t last_cursor = 0; // cursor written by the last successful call
    bool drift = false;       // entries change between walks
    unsigned walks = 0;
    // Every record this input's data source has returned, for checking answers.
    std::vector<std::vector<unsigned char>> returned;
};

FakeTable tables[5];
unsigned long first_calls = 0, next_calls = 0, releases = 0;
unsigned long inputs = 0, answers_checked = 0, writes_refused = 0, handler_lists = 0;

int copy_entry(FakeTable &t, size_t at, uint32_t *cursor, void *record) {
    if (at >= t.entries.size()) return 1;
    const Entry &e = t.entries[at];
    if (e.rc != 0) {
        // A failing data source may still scribble on the record.
        if (!e.record.empty()) memcpy(record, e.record.data(), e.record.size() / 2);
        return e.rc;
    }
    memcpy(record, e.record.data(), e.record.size());
    *cursor = e.cursor;
    t.last_cursor = e.cursor;
    t.returned.push_back(e.record);
    return 0;
}

int ds_first(FakeTable &t, uint32_t *cursor, void *record) {
    ++first_calls;
    if (t.drift && !t.entries.empty()) {
        // Rows appear, vanish and move between walks.
        Entry &e = t.entries[t.walks % t.entries.size()];
        e.cursor ^= 1u << (t.walks % 7);
        e.record[t.walks % e.record.size()] ^= 0x5a;
        if (t.walks % 3 == 2) std::swap(t.entries.front(), t.entries.back());
    }
    ++t.walks;
    t.position = 0;
    t.walking = true;
    return copy_entry(t, 0, cursor, record);
}

int ds_next(FakeTable &t, uint32_t *cursor, void *record) {
    ++next_calls;
    if (!t.walking) fail("next function called without a walk");
    if (*cursor != t.last_cursor) fail("next function got a cursor the data source did not write");
    ++t.position;
    return copy_entry(t, t.position, cursor, record);
}

} // namespace

extern "C" {
int qv_wlan_get_first_if(uint32_t *c, qv_wlan_if_entry *e) { return ds_first(tables[0], c, e); }
int qv_wlan_get_next_if(uint32_t *c, qv_wlan_if_entry *e) { return ds_next(tables[0], c, e); }
int qv_wlan_get_first_ass(uint32_t *c, qv_wlan_ass_entry *e, int flag) {
    if (flag != 1) fail("qv_wlan_get_first_ass called with a flag other than 1");
    return ds_first(tables[1], c, e);
}
int qv_wlan_get_next_ass(uint32_t *c, qv_wlan_ass_entry *e) { return ds_next(tables[1], c, e); }
int qv_wlan_get_first_radio_statis_entry(uint32_t *c, qv_wlan_radio_statis_entry *e) { return ds_first(tables[2], c, e); }
int qv_wlan_get_next_radio_statis_entry(uint32_t *c, qv_wlan_radio_statis_entry *e) { return ds_next(tables[2], c, e); }
int qv_wlan_get_first_virtual_statis_entry(uint32_t *c, qv_wlan_virtual_statis_entry *e) { return ds_first(tables[3], c, e); }
int qv_wlan_get_next_virtual_statis_entry(uint32_t *c, qv_wlan_virtual_statis_entry *e) { return ds_next(tables[3], c, e); }
int qv_wlan_get_first_radio_attr_entry(uint32_t *c, qv_wlan_radio_attr_entry *e) { return ds_first(tables[4], c, e); }
int qv_wlan_get_next_radio_attr_entry(uint32_t *c, qv_wlan_radio_attr_entry *e) { return ds_next(tables[4], c, e); }

int qv_free_ref_mem(void *record) {
    ++releases;
    if (!record) fail("qv_free_ref_mem given a null record");
    void *block = static_cast<unsigned char *>(record) - 4;
    if (!live_blocks->count(block)) fail("qv_free_ref_mem given an address that is not a live row's record");
    uint32_t *count = static_cast<uint32_t *>(block);
    if (*count == 0 || *count > 1000) fail("reference count out of range on release");
    if (--*count == 0) free(block);
    return 0;
}
}

namespace {

// ---------------------------------------------------------------------------
// Agent side.

struct TableApi {
    const qv::TableDef *def;
    netsnmp_handler_registration *reg; // found in the agent's registry
    Netsnmp_First_Data_Point *first;
    Netsnmp_Next_Data_Point *next;
    Netsnmp_Make_Data_Context *keep;
    Netsnmp_Free_Data_Context *data_free;
    Netsnmp_Free_Loop_Context *loop_free;
    Netsnmp_Node_Handler *handler;
};
TableApi apis[5];

unsigned long log_unsupported = 0, log_unknown = 0, log_other = 0;

int count_log(int, int, void *server_arg, void *) {
    const auto *message = static_cast<const snmp_log_message *>(server_arg);
    const char *text = message && message->msg ? message->msg : "";
    if (strstr(text, ": unsupported mode\n")) ++log_unsupported;
    else if (strstr(text, ": unknown column\n")) ++log_unknown;
    else ++log_other;
    return 0;
}

void reset_data_source() {
    for (FakeTable &t : tables) {
        t.entries.clear();
        t.returned.clear();
        t.position = 0;
        t.walking = false;
        t.drift = false;
        t.walks = 0;
    }
}

void build_entries(FuzzedDataProvider &in, FakeTable &t) {
    const size_t size = t.def->record_size;
    const size_t count = in.ConsumeIntegralInRange<size_t>(0, 24);
    const bool unique = in.ConsumeBool();
    t.drift = in.ConsumeBool();
    const unsigned char fill = in.ConsumeIntegral<unsigned char>();
    for (size_t i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        Entry e;
        // Mostly entries, sometimes an error in the middle of the walk.
        e.rc = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? in.ConsumeIntegralInRange<int>(-2, 3) : 0;
        if (unique) e.cursor = static_cast<uint32_t>(i + 1) * in.ConsumeIntegralInRange<uint32_t>(1, 3);
        else e.cursor = in.ConsumeIntegral<uint32_t>(); // may repeat, may be huge
        e.record.assign(size, fill);
        // Raw bytes from the input over a fill pattern: strings may lack
        // their NUL, numbers take any value.
        std::vector<unsigned char> raw = in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<size_t>(0, size));
        const size_t offset = raw.empty() ? 0 : in.ConsumeIntegralInRange<size_t>(0, size - raw.size());
        if (!raw.empty()) memcpy(e.record.data() + offset, raw.data(), raw.size());
        t.entries.push_back(std::move(e));
    }
}

// An OID under the table: the root, then whatever the input says. Biased
// towards meaningful shapes: entry 1, a column near the range, an index that
// exists or nearly exists.
std::vector<oid> build_oid(FuzzedDataProvider &in, const FakeTable &t) {
    std::vector<oid> name(t.def->root, t.def->root + qv::table_oid_length);
    const int shape = in.ConsumeIntegralInRange<int>(0, 7);
    if (shape == 0) return name; // the table itself
    name.push_back(in.ConsumeIntegralInRange<int>(0, 7) == 0 ? in.ConsumeIntegralInRange<oid>(0, 3) : 1);
    if (shape == 1) return name;
    name.push_back(in.ConsumeIntegralInRange<oid>(0, t.def->column_count + 2));
    if (shape == 2) return name;
    const Entry *e = t.entries.empty() ? nullptr : &t.entries[in.ConsumeIntegralInRange<size_t>(0, t.entries.size() - 1)];
    if (t.def->index == qv::IndexStyle::ClientAndMac) {
        int32_t first = 0;
        if (e) memcpy(&first, e->record.data(), 4);
        name.push_back(in.ConsumeBool() ? static_cast<oid>(static_cast<uint32_t>(first)) : in.ConsumeIntegral<uint32_t>());
        const size_t mac_len = in.ConsumeIntegralInRange<int>(0, 3) ? 6 : in.ConsumeIntegralInRange<size_t>(0, 9);
        name.push_back(in.ConsumeIntegralInRange<int>(0, 7) ? mac_len : in.ConsumeIntegral<uint32_t>());
        for (size_t i = 0; i < mac_len; ++i)
            name.push_back(e && i < 6 && in.ConsumeBool() ? e->record[4 + i] : in.ConsumeIntegralInRange<oid>(0, 300));
    } else {
        name.push_back(e && in.ConsumeBool() ? e->cursor + in.ConsumeIntegralInRange<int>(-1, 1) : in.ConsumeIntegral<uint32_t>());
    }
    // Trailing sub-identifiers: too long an index.
    if (shape == 7) {
        const size_t extra = in.ConsumeIntegralInRange<size_t>(1, 4);
        for (size_t i = 0; i < extra; ++i) name.push_back(in.ConsumeIntegral<uint32_t>());
    }
    if (name.size() > MAX_OID_LEN) name.resize(MAX_OID_LEN);
    return name;
}

bool value_in_returned_records(const FakeTable &t, unsigned colnum, const netsnmp_variable_list *vb) {
    if (colnum < 1 || colnum > t.def->column_count) return false;
    const qv::Column &column = t.def->columns[colnum - 1];
    if (vb->type != column.type) return false;
    for (const auto &record : t.returned) {
        size_t length = 0;
        const void *value = column.get(record.data(), &length);
        if (vb->type == ASN_INTEGER || vb->type == ASN_COUNTER) {
            // Net-SNMP keeps numbers as a long: INTEGER sign-extended,
            // Counter32 zero-extended from the record's 32 bits.
            if (length != 4) return false;
            int32_t v32;
            memcpy(&v32, value, 4);
            const long expected = vb->type == ASN_INTEGER ? static_cast<long>(v32) : static_cast<long>(static_cast<uint32_t>(v32));
            if (*vb->val.integer == expected) return true;
        } else if (length == vb->val_len && (length == 0 || memcmp(value, vb->val.string, length) == 0)) {
            return true;
        }
    }
    return false;
}

bool is_value_type(u_char type) {
    return type == ASN_INTEGER || type == ASN_OCTET_STR || type == ASN_IPADDRESS || type == ASN_COUNTER;
}

// One request list through the table's real registration chain, as the
// agent's request loop calls it; data sets are freed when the "PDU" is done,
// as free_agent_snmp_session does.
void through_registration(FuzzedDataProvider &in, size_t table_index) {
    FakeTable &t = tables[table_index];
    TableApi &api = apis[table_index];
    static const int modes[] = {MODE_GET, MODE_GETNEXT, MODE_GETBULK, MODE_SET_RESERVE1, MODE_SET_RESERVE2,
                                MODE_SET_ACTION, MODE_SET_COMMIT, MODE_SET_FREE, MODE_SET_UNDO};
    const int mode = in.PickValueInArray(modes);
    const size_t count = in.ConsumeIntegralInRange<size_t>(1, 8);

    netsnmp_agent_request_info reqinfo;
    memset(&reqinfo, 0, sizeof reqinfo);
    netsnmp_agent_session asp;
    memset(&asp, 0, sizeof asp);
    reqinfo.asp = &asp;
    reqinfo.mode = mode;

    std::vector<netsnmp_request_info> requests(count);
    std::vector<netsnmp_variable_list *> vbs(count);
    for (size_t i = 0; i < count; ++i) {
        std::vector<oid> name = build_oid(in, t);
        // GETBULK repetitions need varbinds to fill, as the agent pre-allocates.
        const int repeat = mode == MODE_GETBULK ? in.ConsumeIntegralInRange<int>(0, 3) : 0;
        netsnmp_variable_list *head = nullptr;
        for (int r = 0; r <= repeat; ++r)
            snmp_varlist_add_variable(&head, name.data(), name.size(), ASN_NULL, nullptr, 0);
        vbs[i] = head;
        memset(&requests[i], 0, sizeof requests[i]);
        requests[i].requestvb = head;
        requests[i].index = static_cast<int>(i + 1);
        requests[i].repeat = repeat;
        requests[i].orig_repeat = repeat;
        requests[i].agent_req_info = &reqinfo;
        requests[i].next = i + 1 < count ? &requests[i + 1] : nullptr;
        requests[i].prev = i ? &requests[i - 1] : nullptr;
    }

    const unsigned long unsupported_before = log_unsupported;
    armed = true;
    netsnmp_call_handlers(api.reg, &reqinfo, requests.data());
    armed = false;

    if (MODE_IS_SET(mode)) {
        // Read-only: the agent refuses every write before the module sees it.
        for (auto &request : requests)
            if (request.status != SNMP_ERR_NOTWRITABLE) fail("a write was not refused as notWritable");
        writes_refused += requests.size();
        if (log_unsupported != unsupported_before) fail("a write mode reached the module's handler");
    } else {
        for (auto &request : requests) {
            const netsnmp_variable_list *vb = request.requestvb;
            if (!vb || !is_value_type(vb->type)) continue;
            netsnmp_table_request_info *info = netsnmp_extract_table_info(&request);
            if (!info) continue;
            ++answers_checked;
            if (!value_in_returned_records(t, info->colnum, vb)) {
                fprint_variable(stderr, vb->name, vb->name_length, vb);
                fprintf(stderr, "mode %d colnum %u type 0x%x len %zu\n", mode, info->colnum, vb->type, vb->val_len);
                fail("an answer is not a value of a returned record");
            }
        }
    }

    for (auto &request : requests) netsnmp_free_request_data_sets(&request);
    if (reqinfo.agent_data) netsnmp_free_all_list_data(reqinfo.agent_data);
    for (auto *vb : vbs) snmp_free_varbind(vb);
}

// A request list built by hand, as the iterator leaves it for the handler:
// rows come from the module's callbacks, walks stop early at the input's
// choice, and requests may lack a row or table information or be processed.
void straight_to_handler(FuzzedDataProvider &in, size_t table_index) {
    FakeTable &t = tables[table_index];
    TableApi &api = apis[table_index];

    // Walk: collect kept rows (data contexts), maybe stopping early.
    std::vector<void *> kept;
    const size_t stop_after = in.ConsumeIntegralInRange<size_t>(0, 30);
    // Index list shaped like the registration's.
    netsnmp_variable_list *indexes = nullptr;
    snmp_varlist_add_variable(&indexes, nullptr, 0, ASN_INTEGER, nullptr, 0);
    if (t.def->index == qv::IndexStyle::ClientAndMac)
        snmp_varlist_add_variable(&indexes, nullptr, 0, ASN_OCTET_STR, nullptr, 0);
    void *loop = nullptr, *data = nullptr;
    armed = true;
    netsnmp_variable_list *row = api.first(&loop, &data, indexes, nullptr);
    size_t steps = 0;
    while (row && steps < stop_after) {
        if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
            const int copies = in.ConsumeIntegralInRange<int>(1, 3);
            for (int i = 0; i < copies; ++i) kept.push_back(api.keep(loop, nullptr));
        }
        row = api.next(&loop, &data, indexes, nullptr);
        ++steps;
    }
    if (loop) {
        api.loop_free(loop, nullptr); // the agent stops the walk here
        loop = nullptr;
    }
    // After the walk: neither callback touches memory for a null loop context.
    const unsigned long before = mallocs_seen;
    if (api.keep(nullptr, nullptr) != nullptr) fail("make-data-context of a null loop context is not null");
    if (api.next(&loop, &data, indexes, nullptr) != nullptr || mallocs_seen != before)
        fail("next-row with a null loop context did something");
    armed = false;
    snmp_free_varbind(indexes);

    static const int modes[] = {MODE_GET, MODE_GET, MODE_GET, MODE_GETNEXT, MODE_GETBULK, MODE_SET_RESERVE1,
                                MODE_SET_COMMIT, 0, 0xff, -1};
    netsnmp_agent_request_info reqinfo;
    memset(&reqinfo, 0, sizeof reqinfo);
    netsnmp_agent_session asp;
    memset(&asp, 0, sizeof asp);
    reqinfo.asp = &asp;
    reqinfo.mode = in.PickValueInArray(modes);

    const size_t count = in.ConsumeIntegralInRange<size_t>(1, 6);
    std::vector<netsnmp_request_info> requests(count);
    std::vector<bool> pre_processed(count);
    size_t expected_unsupported = 0;
    for (size_t i = 0; i < count; ++i) {
        netsnmp_request_info &request = requests[i];
        memset(&request, 0, sizeof request);
        std::vector<oid> name = build_oid(in, t);
        netsnmp_variable_list *vb = nullptr;
        snmp_varlist_add_variable(&vb, name.data(), name.size(), ASN_NULL, nullptr, 0);
        if (!vb) fail("could not build a varbind");
        request.requestvb = vb;
        request.next = i + 1 < count ? &requests[i + 1] : nullptr;
        request.prev = i ? &requests[i - 1] : nullptr;
        request.processed = in.ConsumeIntegralInRange<int>(0, 5) == 0;
        pre_processed[i] = request.processed;
        // Row: one of the kept data contexts, or none.
        if (!kept.empty() && in.ConsumeIntegralInRange<int>(0, 4)) {
            const size_t k = in.ConsumeIntegralInRange<size_t>(0, kept.size() - 1);
            netsnmp_request_add_list_data(&request, netsnmp_create_data_list(TABLE_ITERATOR_NAME, kept[k], nullptr));
        }
        // Table information, as the table helper attaches it.
        if (in.ConsumeIntegralInRange<int>(0, 6)) {
            auto *info = static_cast<netsnmp_table_request_info *>(calloc(1, sizeof(netsnmp_table_request_info)));
            info->colnum = in.ConsumeIntegralInRange<int>(0, 5) == 0 ? in.ConsumeIntegral<unsigned>()
                                                                    : in.ConsumeIntegralInRange<unsigned>(0, t.def->column_count + 1);
            netsnmp_request_add_list_data(&request, netsnmp_create_data_list(TABLE_HANDLER_NAME, info, free));
            if (!request.processed && reqinfo.mode != MODE_GET) ++expected_unsupported;
        }
    }

    const unsigned long unsupported_before = log_unsupported;
    armed = true;
    ++handler_lists;
    const int rc = api.handler(nullptr, nullptr, &reqinfo, requests.data());
    armed = false;
    if (rc != SNMP_ERR_NOERROR) fail("handler returned an error status");
    if (log_unsupported - unsupported_before != expected_unsupported) fail("unsupported-mode messages do not match the requests");

    for (size_t i = 0; i < count; ++i) {
        netsnmp_request_info &request = requests[i];
        const netsnmp_variable_list *vb = request.requestvb;
        if (pre_processed[i] && vb->type != ASN_NULL) fail("a processed request was touched");
        if (reqinfo.mode != MODE_GET && vb->type != ASN_NULL) fail("a value was stored outside MODE_GET");
        if (is_value_type(vb->type)) {
            netsnmp_table_request_info *info = netsnmp_extract_table_info(&request);
            ++answers_checked;
            if (!info || !value_in_returned_records(t, info->colnum, vb)) {
                fprintf(stderr, "mode %d type 0x%x len %zu\n", reqinfo.mode, vb->type, vb->val_len);
                fail("an answer is not a value of a returned record");
            }
        }
        netsnmp_free_request_data_sets(&request);
        snmp_free_varbind(request.requestvb);
    }

    // The agent releases every data context after the response.
    armed = true;
    for (void *context : kept) api.data_free(context, nullptr);
    armed = false;
}

void init_apis() {
    const qv::TableDef *defs[5] = {&qv::xif_table, &qv::association_table, &qv::radio_stats_table,
                                   &qv::vif_stats_table, &qv::radio_attribute_table};
    for (size_t i = 0; i < 5; ++i) {
        tables[i].def = defs[i];
        apis[i].def = defs[i];
        apis[i].first = defs[i]->first_row_cb;
        apis[i].next = defs[i]->next_row_cb;
        apis[i].keep = defs[i]->make_data_context_cb;
        apis[i].data_free = defs[i]->free_data_context_cb;
        apis[i].loop_free = defs[i]->free_loop_context_at_end_cb;
        apis[i].handler = defs[i]->handler;
        netsnmp_subtree *subtree = netsnmp_subtree_find(defs[i]->root, qv::table_oid_length, nullptr, "");
        if (!subtree || !subtree->reginfo || strcmp(subtree->reginfo->handlerName, defs[i]->name) != 0)
            fail("table not found in the agent's registry after init_qv_if_iterate");
        apis[i].reg = subtree->reginfo;
    }
}

void print_figures() {
    fprintf(stderr,
            "qv_fuzz figures: inputs %lu, data-source first calls %lu, next calls %lu, releases %lu, "
            "injected malloc failures %lu, direct handler lists %lu, answers checked %lu, writes refused %lu\n",
            inputs, first_calls, next_calls, releases, injected_failures, handler_lists, answers_checked,
            writes_refused);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    atexit(print_figures);
    live_blocks = new std::unordered_set<void *>;
    setenv("SNMP_PERSISTENT_DIR", "/nonexistent-qv-fuzz", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 0);
    // Module messages are counted, not printed.
    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, count_log, nullptr);
    snmp_enable_calllog();
    init_agent("qv_fuzz");
    init_qv_if_iterate();
    init_apis();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    ++inputs;
    reset_data_source();
    mallocs_seen = 0;
    fail_at = in.ConsumeIntegralInRange<int>(0, 2) == 0 ? in.ConsumeIntegralInRange<unsigned long>(1, 40) : 0;
    fail_every = in.ConsumeIntegralInRange<int>(0, 7) == 0 ? in.ConsumeIntegralInRange<unsigned long>(2, 9) : 0;
    for (FakeTable &t : tables) build_entries(in, t);

    const size_t rounds = in.ConsumeIntegralInRange<size_t>(1, 6);
    for (size_t r = 0; r < rounds && in.remaining_bytes() > 0; ++r) {
        const size_t table_index = in.ConsumeIntegralInRange<size_t>(0, 4);
        if (in.ConsumeBool()) through_registration(in, table_index);
        else straight_to_handler(in, table_index);
        if (!live_blocks->empty()) fail("row blocks left after the request was done");
        for (FakeTable &t : tables) t.walking = false;
    }
    return 0;
}
