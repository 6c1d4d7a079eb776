// qvXIfTable: Wireless interfaces: name, SSID name and four interface values; one row per interface entry, indexed by its cursor.
#include "tables/qv_tables.h"

QV_XIF_COLUMNS(QV_DEFINE_ACCESSOR, qv_wlan_if_entry)

namespace {
constexpr qv::Column columns[] = {QV_XIF_COLUMNS(QV_COLUMN_ENTRY, qv_wlan_if_entry)};
static_assert(qv::columns_numbered_in_order(columns), "columns listed out of order");
static_assert(sizeof(columns) / sizeof(columns[0]) == 6, "qvXIfTable has 6 columns");
} // namespace

namespace qv {
const TableDef xif_table = {
    "qvXIfTable",
    QV_TABLE_OID(1),
    sizeof(qv_wlan_if_entry),
    qv::fetch<qv_wlan_if_entry, qv_wlan_get_first_if>,
    qv::fetch<qv_wlan_if_entry, qv_wlan_get_next_if>,
    IndexStyle::Cursor,
    columns,
    sizeof(columns) / sizeof(columns[0]),
    qvXIfTable_handler,
    qvXIfTable_get_first_data_point,
    qvXIfTable_get_next_data_point,
    qvXIfTable_context_convert_function,
    XIfTable_data_free,
    XIfTable_loop_free,
};
} // namespace qv

QV_DEFINE_TABLE_ENTRY_POINTS(qv::xif_table, qvXIfTable, qvXIfTable_context_convert_function, XIfTable_data_free, XIfTable_loop_free)
