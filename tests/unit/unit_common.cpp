#include "unit_common.h"

namespace qvtest {

netsnmp_variable_list *index_list(Table t) {
    netsnmp_variable_list *list = nullptr;
    snmp_varlist_add_variable(&list, nullptr, 0, ASN_INTEGER, nullptr, 0);
    if (t == Table::Ass) snmp_varlist_add_variable(&list, nullptr, 0, ASN_OCTET_STR, nullptr, 0);
    return list;
}

Entry pattern_entry(Table t, uint32_t cursor) { return Entry{offset_pattern(t), cursor}; }

} // namespace qvtest
