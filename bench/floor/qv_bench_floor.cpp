// SPDX-License-Identifier: BSD-3-Clause
/*
 * qv_bench_floor.so: the cheapest module that can serve the five tables
 * through Net-SNMP's table iterator, the floor the real module is measured
 * against. Same root OIDs, indexes, columns and types, registered the same
 * way; rows come from static arrays, walks call no data source and allocate
 * nothing.
 *
 * The arrays are filled once at start-up from the data source loaded before
 * this module (dlmod), so both servers answer with the same bytes.
 */
#include <dlfcn.h>
#include <stdlib.h>

#include <type_traits>

#include "core/qv_if_iterate.h"

namespace {

constexpr size_t max_rows = 4096;

template <typename Record>
struct Row {
    Record record;
    uint32_t cursor;
};

struct FloorColumn {
    size_t offset;
    size_t size;
    u_char type;
    bool string;
};

#define FLOOR_COLUMN(record_t, number, object, kind, offset)                                  \
    {offsetof(record_t, object), sizeof(record_t::object), qv::asn_type(qv::ValueType::kind), \
     qv::ValueType::kind == qv::ValueType::String},

struct FloorTable {
    const char *name;
    oid root[13];
    bool two_indexes;
    const FloorColumn *columns;
    size_t column_count;
    const unsigned char *rows; // Row<Record> array
    size_t row_size;
    size_t row_count;
    size_t record_size;
};

// Column lists as the module's, by X-macro.
const FloorColumn xif_columns[] = {QV_XIF_TABLE_COLUMNS(FLOOR_COLUMN, qv_wlan_if_entry)};
const FloorColumn ass_columns[] = {QV_ASSOCIATION_TABLE_COLUMNS(FLOOR_COLUMN, qv_wlan_ass_entry)};
const FloorColumn radio_stats_columns[] = {QV_RADIO_STATS_TABLE_COLUMNS(FLOOR_COLUMN, qv_wlan_radio_statis_entry)};
const FloorColumn vif_stats_columns[] = {QV_VIF_STATS_TABLE_COLUMNS(FLOOR_COLUMN, qv_wlan_virtual_statis_entry)};
const FloorColumn radio_attr_columns[] = {QV_RADIO_ATTRIBUTE_TABLE_COLUMNS(FLOOR_COLUMN, qv_wlan_radio_attr_entry)};

Row<qv_wlan_if_entry> xif_rows[max_rows];
Row<qv_wlan_ass_entry> ass_rows[max_rows];
Row<qv_wlan_radio_statis_entry> radio_stats_rows[max_rows];
Row<qv_wlan_virtual_statis_entry> vif_stats_rows[max_rows];
Row<qv_wlan_radio_attr_entry> radio_attr_rows[max_rows];

#define FLOOR_TABLE(name, n, two, cols, rows)                                                         \
    {                                                                                                 \
        name, {1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1, n}, two, cols, sizeof(cols) / sizeof(cols[0]), \
            reinterpret_cast<const unsigned char *>(rows), sizeof(rows[0]), 0, sizeof(rows[0].record) \
    }

FloorTable tables[] = {
    FLOOR_TABLE("qvXIfTable", 1, false, xif_columns, xif_rows),
    FLOOR_TABLE("qvAssociationTable", 2, true, ass_columns, ass_rows),
    FLOOR_TABLE("qvRadioStatsTable", 3, false, radio_stats_columns, radio_stats_rows),
    FLOOR_TABLE("qvVIfStatsTable", 4, false, vif_stats_columns, vif_stats_rows),
    FLOOR_TABLE("qvRadioAttributeTable", 5, false, radio_attr_columns, radio_attr_rows),
};

// What the iterator asked of the floor: first-row and next-row callbacks, and
// data contexts made and not yet freed (rows kept by requests). Read and reset
// by the benchmark probe; a few increments per row, nothing else.
struct FloorStats {
    uint32_t first_calls, next_calls, kept, kept_peak;
} stats;

const FloorTable &table_of(netsnmp_iterator_info *iinfo) { return *static_cast<const FloorTable *>(iinfo->myvoid); }

const uint32_t *cursor_of(const FloorTable &t, const unsigned char *row) {
    return reinterpret_cast<const uint32_t *>(row + t.record_size);
}

netsnmp_variable_list *set_row(const FloorTable &t, const unsigned char *row, void **loop_context,
                               netsnmp_variable_list *indexes) {
    *loop_context = const_cast<unsigned char *>(row);
    if (t.two_indexes) {
        const auto *e = reinterpret_cast<const qv_wlan_ass_entry *>(row);
        snmp_set_var_value(indexes, &e->first_index, sizeof e->first_index);
        snmp_set_var_value(indexes->next_variable, e->qvClientMac, sizeof e->qvClientMac);
    } else {
        snmp_set_var_value(indexes, cursor_of(t, row), sizeof(uint32_t));
    }
    return indexes;
}

netsnmp_variable_list *floor_first(void **loop_context, void **, netsnmp_variable_list *indexes,
                                   netsnmp_iterator_info *iinfo) {
    const FloorTable &t = table_of(iinfo);
    ++stats.first_calls;
    if (t.row_count == 0) {
        *loop_context = nullptr;
        return nullptr;
    }
    return set_row(t, t.rows, loop_context, indexes);
}

netsnmp_variable_list *floor_next(void **loop_context, void **, netsnmp_variable_list *indexes,
                                  netsnmp_iterator_info *iinfo) {
    const FloorTable &t = table_of(iinfo);
    const auto *row = static_cast<const unsigned char *>(*loop_context);
    if (!row) return nullptr;
    ++stats.next_calls;
    row += t.row_size;
    if (row >= t.rows + t.row_count * t.row_size) {
        *loop_context = nullptr;
        return nullptr;
    }
    return set_row(t, row, loop_context, indexes);
}

void *floor_make_data_context(void *loop_context, netsnmp_iterator_info *) {
    if (loop_context && ++stats.kept > stats.kept_peak) stats.kept_peak = stats.kept;
    return loop_context;
}

void floor_free_data_context(void *, netsnmp_iterator_info *) { --stats.kept; }

int floor_handler(netsnmp_mib_handler *, netsnmp_handler_registration *reginfo, netsnmp_agent_request_info *reqinfo,
                  netsnmp_request_info *requests) {
    const FloorTable &t = *static_cast<const FloorTable *>(reginfo->my_reg_void);
    if (reqinfo->mode != MODE_GET) return SNMP_ERR_NOERROR;
    for (netsnmp_request_info *request = requests; request; request = request->next) {
        if (request->processed) continue;
        const auto *row = static_cast<const char *>(netsnmp_extract_iterator_context(request));
        if (!row) {
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
            continue;
        }
        netsnmp_table_request_info *info = netsnmp_extract_table_info(request);
        if (!info || info->colnum < 1 || info->colnum > t.column_count) continue;
        const FloorColumn &c = t.columns[info->colnum - 1];
        const char *value = row + c.offset;
        size_t length = c.string ? strnlen(value, c.size) : c.size;
        snmp_set_var_typed_value(request->requestvb, c.type, value, length);
    }
    return SNMP_ERR_NOERROR;
}

// Copies every row of one kind out of the data source, releasing each block
// as the module would.
template <typename Record>
size_t snapshot(const char *first_name, const char *next_name, Row<Record> *rows) {
    using First = int (*)(uint32_t *, Record *);
    using FirstAss = int (*)(uint32_t *, Record *, int);
    using Next = int (*)(uint32_t *, Record *);
    void *first = dlsym(RTLD_DEFAULT, first_name);
    auto next = reinterpret_cast<Next>(dlsym(RTLD_DEFAULT, next_name));
    auto release = reinterpret_cast<int (*)(void *)>(dlsym(RTLD_DEFAULT, "qv_free_ref_mem"));
    if (!first || !next || !release) {
        snmp_log(LOG_ERR, "qv_bench_floor: no data source loaded before it; %s is empty\n", first_name);
        return 0;
    }
    size_t count = 0;
    uint32_t cursor = 0;
    for (bool more = true; more && count < max_rows; ++count) {
        auto *block = static_cast<unsigned char *>(malloc(sizeof(uint32_t) + sizeof(Record) + sizeof(uint32_t)));
        if (!block) break;
        auto *record = reinterpret_cast<Record *>(block + sizeof(uint32_t));
        auto *block_cursor = reinterpret_cast<uint32_t *>(block + sizeof(uint32_t) + sizeof(Record));
        *block_cursor = cursor;
        int rc;
        if (count > 0)
            rc = next(block_cursor, record);
        else if (std::is_same<Record, qv_wlan_ass_entry>::value)
            rc = reinterpret_cast<FirstAss>(first)(block_cursor, record, 1);
        else
            rc = reinterpret_cast<First>(first)(block_cursor, record);
        if (rc != 0) {
            free(block);
            break;
        }
        *reinterpret_cast<uint32_t *>(block) = 1;
        rows[count].record = *record;
        rows[count].cursor = cursor = *block_cursor;
        release(record);
    }
    if (count == max_rows)
        snmp_log(LOG_ERR, "qv_bench_floor: %s: only the first %zu rows are served\n", first_name, max_rows);
    return count;
}

void register_floor_table(FloorTable &t) {
    auto *table_info =
        static_cast<netsnmp_table_registration_info *>(calloc(1, sizeof(netsnmp_table_registration_info)));
    auto *iinfo = static_cast<netsnmp_iterator_info *>(calloc(1, sizeof(netsnmp_iterator_info)));
    netsnmp_handler_registration *reg =
        netsnmp_create_handler_registration(t.name, floor_handler, t.root, qv::root_oid_length, HANDLER_CAN_RONLY);
    if (!table_info || !iinfo || !reg) return;
    reg->my_reg_void = &t;
    if (t.two_indexes)
        netsnmp_table_helper_add_indexes(table_info, ASN_INTEGER, ASN_OCTET_STR, 0);
    else
        netsnmp_table_helper_add_indexes(table_info, ASN_INTEGER, 0);
    table_info->min_column = 1;
    table_info->max_column = static_cast<unsigned int>(t.column_count);
    iinfo->get_first_data_point = floor_first;
    iinfo->get_next_data_point = floor_next;
    iinfo->make_data_context = floor_make_data_context;
    iinfo->free_data_context = floor_free_data_context;
    iinfo->myvoid = &t;
    iinfo->table_reginfo = table_info;
    netsnmp_register_table_iterator(reg, iinfo);
}

} // namespace

extern "C" QV_EXPORT void init_qv_bench_floor(void) {
    // dlmod opens modules locally; the probe finds qv_bench_floor_stats globally.
    Dl_info self;
    if (dladdr(reinterpret_cast<void *>(init_qv_bench_floor), &self) && self.dli_fname)
        dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);
    tables[0].row_count = snapshot("qv_wlan_get_first_if", "qv_wlan_get_next_if", xif_rows);
    tables[1].row_count = snapshot("qv_wlan_get_first_ass", "qv_wlan_get_next_ass", ass_rows);
    tables[2].row_count =
        snapshot("qv_wlan_get_first_radio_statis_entry", "qv_wlan_get_next_radio_statis_entry", radio_stats_rows);
    tables[3].row_count =
        snapshot("qv_wlan_get_first_virtual_statis_entry", "qv_wlan_get_next_virtual_statis_entry", vif_stats_rows);
    tables[4].row_count =
        snapshot("qv_wlan_get_first_radio_attr_entry", "qv_wlan_get_next_radio_attr_entry", radio_attr_rows);
    for (FloorTable &t : tables) register_floor_table(t);
}

// For the benchmark probe: the iterator's calls since the last reset.
extern "C" QV_EXPORT void qv_bench_floor_stats(uint32_t out[4], int reset) {
    out[0] = stats.first_calls;
    out[1] = stats.next_calls;
    out[2] = stats.kept;
    out[3] = stats.kept_peak;
    if (reset) stats = FloorStats{0, 0, stats.kept, stats.kept};
}
