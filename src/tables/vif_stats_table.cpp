// qvVIfStatsTable: Per-virtual-interface traffic and airtime counters, indexed by the cursor.
#include "tables/qv_tables.h"

QV_VIF_STATS_COLUMNS(QV_DEFINE_ACCESSOR, qv_wlan_virtual_statis_entry)

namespace {
constexpr qv::Column columns[] = {QV_VIF_STATS_COLUMNS(QV_COLUMN_ENTRY, qv_wlan_virtual_statis_entry)};
static_assert(qv::columns_numbered_in_order(columns), "columns listed out of order");
static_assert(sizeof(columns) / sizeof(columns[0]) == 18, "qvVIfStatsTable has 18 columns");
} // namespace

namespace qv {
const TableDef vif_stats_table = {
    "qvVIfStatsTable",
    QV_TABLE_OID(4),
    sizeof(qv_wlan_virtual_statis_entry),
    qv::fetch<qv_wlan_virtual_statis_entry, qv_wlan_get_first_virtual_statis_entry>,
    qv::fetch<qv_wlan_virtual_statis_entry, qv_wlan_get_next_virtual_statis_entry>,
    IndexStyle::Cursor,
    columns,
    sizeof(columns) / sizeof(columns[0]),
    qvVIfStatsTable_handler,
    qvVIfStatsTable_get_first_data_point,
    qvVIfStatsTable_get_next_data_point,
    qvVIfTable_context_convert_function,
    VIfTable_data_free,
    VIfTable_loop_free,
};
} // namespace qv

QV_DEFINE_TABLE_ENTRY_POINTS(qv::vif_stats_table, qvVIfStatsTable, qvVIfTable_context_convert_function, VIfTable_data_free, VIfTable_loop_free)
