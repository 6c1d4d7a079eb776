/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * Compile-time checks of the records the data source fills. The records are
 * shared with a library built elsewhere, so their layout is held byte for byte
 * in C as well as in C++.
 *
 * Each table header lists its columns as
 *   X(record type, column number, column object, value type, record offset)
 * in column order; QV_RECORD_LAYOUT checks the record's size, that every
 * column's field lies at its offset and that its C type is the one its value
 * type is served from: Integer an int32_t, Counter32 a uint32_t, IpAddress
 * uint8_t[4], Mac uint8_t[6], String a char array (its room).
 */
#ifndef QV_RECORD_LAYOUT_H
#define QV_RECORD_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <type_traits>
#define QV_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
/* A record's field in an unevaluated operand, and whether it has exactly the
 * C type `pointer` points to. */
#define QV_FIELD_OF(type, field) (static_cast<type *>(nullptr)->field)
#define QV_FIELD_HAS_TYPE(type, field, pointer) (std::is_same<decltype(&QV_FIELD_OF(type, field)), pointer>::value)
#else
#define QV_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#define QV_FIELD_OF(type, field) (((type *)0)->field)
#define QV_FIELD_HAS_TYPE(type, field, pointer) _Generic(&QV_FIELD_OF(type, field), pointer : 1, default : 0)
#endif

/* Each value type's field, as a pointer type (so arrays keep their length),
 * and what the build says when a column's field is another. */
#define QV_FIELD_POINTER_Integer(field) int32_t *
#define QV_FIELD_POINTER_Counter32(field) uint32_t *
#define QV_FIELD_POINTER_IpAddress(field) uint8_t(*)[4]
#define QV_FIELD_POINTER_Mac(field) uint8_t(*)[6]
#define QV_FIELD_POINTER_String(field) char(*)[sizeof(field)]
#define QV_FIELD_NEEDS_Integer "an Integer column needs an int32_t field"
#define QV_FIELD_NEEDS_Counter32 "a Counter32 column needs a uint32_t field"
#define QV_FIELD_NEEDS_IpAddress "an IpAddress column needs a uint8_t[4] field"
#define QV_FIELD_NEEDS_Mac "a Mac column needs a uint8_t[6] field"
#define QV_FIELD_NEEDS_String "a String column needs a char array field"

#define QV_ASSERT_FIELD(type, field, offset) \
    QV_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " must be at byte " #offset);

#define QV_ASSERT_COLUMN_FIELD(type, number, object, value_type, offset)                                        \
    QV_ASSERT_FIELD(type, object, offset)                                                                       \
    QV_STATIC_ASSERT(QV_FIELD_HAS_TYPE(type, object, QV_FIELD_POINTER_##value_type(QV_FIELD_OF(type, object))), \
                     #type "." #object ": " QV_FIELD_NEEDS_##value_type);

#define QV_RECORD_LAYOUT(type, size, COLUMNS)                                   \
    QV_STATIC_ASSERT(sizeof(type) == (size), #type " must be " #size " bytes"); \
    COLUMNS(QV_ASSERT_COLUMN_FIELD, type)

#endif /* QV_RECORD_LAYOUT_H */
