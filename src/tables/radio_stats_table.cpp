// qvRadioStatsTable: Per-radio traffic, error and airtime counters, indexed by the cursor.
#include "tables/qv_tables.h"

QV_RADIO_STATS_COLUMNS(QV_DEFINE_ACCESSOR, qv_wlan_radio_statis_entry)

namespace {
constexpr qv::Column columns[] = {QV_RADIO_STATS_COLUMNS(QV_COLUMN_ENTRY, qv_wlan_radio_statis_entry)};
static_assert(qv::columns_numbered_in_order(columns), "columns listed out of order");
static_assert(sizeof(columns) / sizeof(columns[0]) == 23, "qvRadioStatsTable has 23 columns");
} // namespace

namespace qv {
const TableDef radio_stats_table = {
    "qvRadioStatsTable",
    QV_TABLE_OID(3),
    sizeof(qv_wlan_radio_statis_entry),
    qv::fetch<qv_wlan_radio_statis_entry, qv_wlan_get_first_radio_statis_entry>,
    qv::fetch<qv_wlan_radio_statis_entry, qv_wlan_get_next_radio_statis_entry>,
    IndexStyle::Cursor,
    columns,
    sizeof(columns) / sizeof(columns[0]),
    qvRadioStatsTable_handler,
    qvRadioStatsTable_get_first_data_point,
    qvRadioStatsTable_get_next_data_point,
    qvRadioStatsTable_context_convert_function,
    radioTable_data_free,
    radioTable_loop_free,
};
} // namespace qv

QV_DEFINE_TABLE_ENTRY_POINTS(qv::radio_stats_table, qvRadioStatsTable, qvRadioStatsTable_context_convert_function, radioTable_data_free, radioTable_loop_free)
