# SPDX-License-Identifier: BSD-3-Clause
# find_package(QvWlanSnmp): the data-source kit of qv-wlan-snmp as the
# imported target QvWlanSnmp::kit (headers, static kit, -ldl where needed).
# Link a data source (a MODULE or SHARED library) with it: docs/sdk.md.
include("${CMAKE_CURRENT_LIST_DIR}/QvWlanSnmpTargets.cmake")
