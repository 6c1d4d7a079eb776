// SPDX-License-Identifier: BSD-3-Clause
// The table's record, columns, index and names live in its header; this
// defines its accessors, its TableDef and its exported entry points.
#include "core/row_iteration.h"

QV_RADIO_ATTRIBUTE_TABLE(QV_DEFINE_TABLE)
