// SPDX-License-Identifier: BSD-3-Clause
// The request handler shared by the five tables. Only retrievals reach it: the
// tables are read-only and the iterator turns GETNEXT/GETBULK into GETs.
#include "core/qv_if_iterate.h"

namespace qv {

int handle_requests(const TableDef &table, netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests) {
    const bool get = reqinfo->mode == MODE_GET;
    for (netsnmp_request_info *request = requests; request; request = request->next) {
        if (request->processed) continue;

        void *row = nullptr;
        if (get) {
            row = netsnmp_extract_iterator_context(request);
            if (!row) {
                netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
                continue;
            }
        }
        netsnmp_table_request_info *info = netsnmp_extract_table_info(request);
        if (!info) continue;
        if (!get) {
            snmp_log(LOG_ERR, "problem encountered in %s_handler: unsupported mode\n", table.name);
            continue;
        }
        if (info->colnum < 1 || info->colnum > table.column_count) {
            snmp_log(LOG_ERR, "problem encountered in %s_handler: unknown column\n", table.name);
            continue;
        }
        const Column &column = table.columns[info->colnum - 1];
        size_t length = 0;
        const void *value = column.get(row, &length);
        if (value) snmp_set_var_typed_value(request->requestvb, column.type, value, length);
    }
    return SNMP_ERR_NOERROR;
}

} // namespace qv
