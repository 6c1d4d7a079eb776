/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qvRadioAttributeTable (.5): each radio's channel, transmit power and noise
 * floor, indexed by the entry's cursor.
 */
#ifndef QV_RADIO_ATTRIBUTE_TABLE_H
#define QV_RADIO_ATTRIBUTE_TABLE_H

#include "tables/record_layout.h"

/* Radio attribute entry, 24 bytes. */
typedef struct qv_wlan_radio_attr_entry {
    int32_t qvRadioChannel;
    int32_t qvRadioTxPower;
    int32_t qvRadioNoiseFloor;
    uint8_t reserved_12[12]; /* the data source's own */
} qv_wlan_radio_attr_entry;

#define QV_RADIO_ATTRIBUTE_TABLE_COLUMNS(X, R) \
    X(R, 1, qvRadioChannel, Integer, 0)        \
    X(R, 2, qvRadioTxPower, Integer, 4)        \
    X(R, 3, qvRadioNoiseFloor, Integer, 8)

QV_RECORD_LAYOUT(qv_wlan_radio_attr_entry, 24, QV_RADIO_ATTRIBUTE_TABLE_COLUMNS)

#define QV_RADIO_ATTRIBUTE_TABLE_INDEX(FIELD, CURSOR, R) CURSOR(R)

#define QV_RADIO_ATTRIBUTE_TABLE(T)                                                                                    \
    T(qvRadioAttributeTable, 5, radio_attr_entry, qv_wlan_radio_attr_entry, QV_RADIO_ATTRIBUTE_TABLE_COLUMNS,          \
      QV_RADIO_ATTRIBUTE_TABLE_INDEX, qvRadioAttributeTable_context_convert_function, qvRadioAttributeTable_data_free, \
      qvRadioAttributeTable_loop_free)

#endif /* QV_RADIO_ATTRIBUTE_TABLE_H */
