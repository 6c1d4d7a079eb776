/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * Compile-time checks of the records the data source fills. The records are
 * shared with a library built elsewhere, so their layout is held byte for byte
 * in C as well as in C++.
 *
 * Each table header lists its columns as
 *   X(record type, column number, column object, value type, record offset)
 * in column order; QV_RECORD_LAYOUT checks the record's size and that every
 * column's field lies at its offset.
 */
#ifndef QV_RECORD_LAYOUT_H
#define QV_RECORD_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define QV_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define QV_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#define QV_ASSERT_FIELD(type, field, offset) \
    QV_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " must be at byte " #offset);

#define QV_ASSERT_COLUMN_FIELD(type, number, object, value_type, offset) QV_ASSERT_FIELD(type, object, offset)

#define QV_RECORD_LAYOUT(type, size, COLUMNS)                                   \
    QV_STATIC_ASSERT(sizeof(type) == (size), #type " must be " #size " bytes"); \
    COLUMNS(QV_ASSERT_COLUMN_FIELD, type)

#endif /* QV_RECORD_LAYOUT_H */
