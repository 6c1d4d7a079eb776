// SPDX-License-Identifier: BSD-3-Clause
// Module entry: snmpd's dlmod finds init_qv_if_iterate by name after loading
// qv_if_iterate.so and calls it once at start-up.
#include "core/qv_if_iterate.h"

#define QV_INITIALIZE_TABLE(table, ...) initialize_table_##table();

extern "C" void init_qv_if_iterate(void) {
    // Registration order; a failure in one table does not stop the others.
    QV_TABLES(QV_INITIALIZE_TABLE)
}
