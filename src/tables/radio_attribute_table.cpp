// qvRadioAttributeTable: Radio operating attributes: channel, transmit power and noise floor, indexed by the cursor.
#include "tables/qv_tables.h"

QV_RADIO_ATTRIBUTE_COLUMNS(QV_DEFINE_ACCESSOR, qv_wlan_radio_attr_entry)

namespace {
constexpr qv::Column columns[] = {QV_RADIO_ATTRIBUTE_COLUMNS(QV_COLUMN_ENTRY, qv_wlan_radio_attr_entry)};
static_assert(qv::columns_numbered_in_order(columns), "columns listed out of order");
static_assert(sizeof(columns) / sizeof(columns[0]) == 3, "qvRadioAttributeTable has 3 columns");
} // namespace

namespace qv {
const TableDef radio_attribute_table = {
    "qvRadioAttributeTable",
    QV_TABLE_OID(5),
    sizeof(qv_wlan_radio_attr_entry),
    qv::fetch<qv_wlan_radio_attr_entry, qv_wlan_get_first_radio_attr_entry>,
    qv::fetch<qv_wlan_radio_attr_entry, qv_wlan_get_next_radio_attr_entry>,
    IndexStyle::Cursor,
    columns,
    sizeof(columns) / sizeof(columns[0]),
    qvRadioAttributeTable_handler,
    qvRadioAttributeTable_get_first_data_point,
    qvRadioAttributeTable_get_next_data_point,
    qvRadioAttributeTable_context_convert_function,
    qvRadioAttributeTable_data_free,
    qvRadioAttributeTable_loop_free,
};
} // namespace qv

QV_DEFINE_TABLE_ENTRY_POINTS(qv::radio_attribute_table, qvRadioAttributeTable, qvRadioAttributeTable_context_convert_function, qvRadioAttributeTable_data_free, qvRadioAttributeTable_loop_free)
