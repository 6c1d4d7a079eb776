// Prints the columns the module serves, straight from its column lists, as
// "table-number column-number object kind" lines, so the MIB tests compare the
// MIB with what is compiled in rather than with a copy of it.
#include <cstdio>

#include "tables/qv_tables.h"

#define QV_DUMP_COLUMN(table, col, name, kind) std::printf("%d %d %s %s\n", table, col, #name, #kind);

int main()
{
    QV_XIF_COLUMNS(QV_DUMP_COLUMN, 1)
    QV_ASSOCIATION_COLUMNS(QV_DUMP_COLUMN, 2)
    QV_RADIO_STATS_COLUMNS(QV_DUMP_COLUMN, 3)
    QV_VIF_STATS_COLUMNS(QV_DUMP_COLUMN, 4)
    QV_RADIO_ATTRIBUTE_COLUMNS(QV_DUMP_COLUMN, 5)
    return 0;
}
