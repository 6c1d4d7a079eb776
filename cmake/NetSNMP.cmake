# SPDX-License-Identifier: BSD-3-Clause
# Net-SNMP as imported targets:
#   NetSNMP::headers  include directory only (the module: snmpd supplies the symbols)
#   NetSNMP::client   libnetsnmp (client programs)
#   NetSNMP::agent    the agent, helper and base libraries (programs that run an agent)
# In a cross-build everything comes from the sysroot (cmake/toolchains/).
find_path(NETSNMP_INCLUDE_DIR net-snmp/net-snmp-config.h REQUIRED)
add_library(NetSNMP::headers INTERFACE IMPORTED)
set_target_properties(NetSNMP::headers PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${NETSNMP_INCLUDE_DIR}"
                                                  INTERFACE_INCLUDE_DIRECTORIES "${NETSNMP_INCLUDE_DIR}")

find_library(NETSNMP_LIBRARY netsnmp)
find_library(NETSNMP_AGENT_LIBRARY netsnmpagent)
find_library(NETSNMP_HELPERS_LIBRARY netsnmphelpers)
if(NETSNMP_LIBRARY)
  add_library(NetSNMP::client INTERFACE IMPORTED)
  target_link_libraries(NetSNMP::client INTERFACE NetSNMP::headers ${NETSNMP_LIBRARY})
endif()
if(NETSNMP_AGENT_LIBRARY AND NETSNMP_HELPERS_LIBRARY AND NETSNMP_LIBRARY)
  add_library(NetSNMP::agent INTERFACE IMPORTED)
  target_link_libraries(NetSNMP::agent INTERFACE NetSNMP::headers
                        ${NETSNMP_HELPERS_LIBRARY} ${NETSNMP_AGENT_LIBRARY} ${NETSNMP_LIBRARY})
endif()
