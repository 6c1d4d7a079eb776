// qvAssociationTable: Client associations, indexed by the record's first index and the client MAC.
#include "tables/qv_tables.h"

QV_ASSOCIATION_COLUMNS(QV_DEFINE_ACCESSOR, qv_wlan_ass_entry)

namespace {
constexpr qv::Column columns[] = {QV_ASSOCIATION_COLUMNS(QV_COLUMN_ENTRY, qv_wlan_ass_entry)};
static_assert(qv::columns_numbered_in_order(columns), "columns listed out of order");
static_assert(sizeof(columns) / sizeof(columns[0]) == 37, "qvAssociationTable has 37 columns");

// The association kind's first function takes a third argument, always 1.
int first_association(uint32_t *cursor, void *record) {
    return qv_wlan_get_first_ass(cursor, static_cast<qv_wlan_ass_entry *>(record), 1);
}
} // namespace

namespace qv {
const TableDef association_table = {
    "qvAssociationTable",
    QV_TABLE_OID(2),
    sizeof(qv_wlan_ass_entry),
    first_association,
    qv::fetch<qv_wlan_ass_entry, qv_wlan_get_next_ass>,
    IndexStyle::ClientAndMac,
    columns,
    sizeof(columns) / sizeof(columns[0]),
    qvAssociationTable_handler,
    qvAssociationTable_get_first_data_point,
    qvAssociationTable_get_next_data_point,
    qvAssociationTable_context_convert_function,
    AssoTable_data_free,
    AssoTable_loop_free,
};
} // namespace qv

QV_DEFINE_TABLE_ENTRY_POINTS(qv::association_table, qvAssociationTable, qvAssociationTable_context_convert_function, AssoTable_data_free, AssoTable_loop_free)
