// Module entry: snmpd's dlmod finds init_qv_if_iterate by name after loading
// qv_if_iterate.so and calls it once at start-up.
#include "core/qv_if_iterate.h"
#include "tables/qv_tables.h"

extern "C" void init_qv_if_iterate(void) {
    // Order is fixed; a failure in one table does not stop the others.
    initialize_table_qvXIfTable();
    initialize_table_qvAssociationTable();
    initialize_table_qvRadioStatsTable();
    initialize_table_qvVIfStatsTable();
    initialize_table_qvRadioAttributeTable();
}
