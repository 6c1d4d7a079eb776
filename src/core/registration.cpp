// SPDX-License-Identifier: BSD-3-Clause
// Registration of one table with the agent's table iterator. The structures
// belong to the agent once registered; the module never unregisters.
#include "core/qv_if_iterate.h"

#include <stdlib.h>

namespace qv {

bool prepare_registration(const TableDef &table, PendingRegistration *pending) {
    auto *table_info =
        static_cast<netsnmp_table_registration_info *>(calloc(1, sizeof(netsnmp_table_registration_info)));
    auto *iinfo = static_cast<netsnmp_iterator_info *>(calloc(1, sizeof(netsnmp_iterator_info)));
    netsnmp_handler_registration *reg =
        netsnmp_create_handler_registration(table.name, table.handler, table.root, root_oid_length, HANDLER_CAN_RONLY);

    if (!table_info || !iinfo || !reg) {
        if (reg) netsnmp_handler_registration_free(reg);
        free(table_info);
        free(iinfo);
        snmp_log(LOG_ERR, "malloc failed in initialize_table_%s", table.name);
        return false;
    }

    // One or two index parts (QV_DEFINE_TABLE checks); the list ends with 0.
    netsnmp_table_helper_add_indexes(table_info, table.index[0].type, table.index_count > 1 ? table.index[1].type : 0,
                                     0);
    table_info->min_column = 1;
    table_info->max_column = static_cast<unsigned int>(table.column_count);

    // No sorted-order flag: rows may come in any order, so the iterator
    // compares every row's index.
    iinfo->get_first_data_point = table.first_row;
    iinfo->get_next_data_point = table.next_row;
    iinfo->make_data_context = table.make_data_context;
    iinfo->free_data_context = table.free_data_context;
    iinfo->free_loop_context_at_end = table.free_loop_context_at_end;
    iinfo->table_reginfo = table_info;

    pending->reg = reg;
    pending->iinfo = iinfo;
    return true;
}

void complete_registration(const PendingRegistration &pending) {
    netsnmp_register_table_iterator(pending.reg, pending.iinfo);
}

} // namespace qv
