# SPDX-License-Identifier: BSD-3-Clause
include $(sort $(wildcard $(BR2_EXTERNAL_QV_WLAN_SNMP_PATH)/package/*/*.mk))
