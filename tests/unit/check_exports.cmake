# Checks the built module as the host agent sees it: exactly the expected
# plain symbol names exported, libc the only load-time dependency, and no
# reference to the C++ runtime left for the loader to resolve.
# Usage: cmake -DMODULE=<path to qv_if_iterate.so> -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT MODULE OR NOT EXISTS "${MODULE}")
  message(FATAL_ERROR "MODULE not given or missing: ${MODULE}")
endif()

set(expected
  init_qv_if_iterate
  qv_if_scalar
  qv_if_iterate_free_undoInfo
  # start-up functions and handlers
  initialize_table_qvXIfTable
  initialize_table_qvAssociationTable
  initialize_table_qvRadioStatsTable
  initialize_table_qvVIfStatsTable
  initialize_table_qvRadioAttributeTable
  qvXIfTable_handler
  qvAssociationTable_handler
  qvRadioStatsTable_handler
  qvVIfStatsTable_handler
  qvRadioAttributeTable_handler
  # iteration callbacks, seven per table
  qvXIfTable_get_first_data_point
  qvXIfTable_get_next_data_point
  qvXIfTable_context_convert_function
  XIfTable_data_free
  XIfTable_loop_free
  qvXIfTable_create_data_context
  qvXIfTable_commit_row
  qvAssociationTable_get_first_data_point
  qvAssociationTable_get_next_data_point
  qvAssociationTable_context_convert_function
  AssoTable_data_free
  AssoTable_loop_free
  qvAssociationTable_create_data_context
  qvAssociationTable_commit_row
  qvRadioStatsTable_get_first_data_point
  qvRadioStatsTable_get_next_data_point
  qvRadioStatsTable_context_convert_function
  radioTable_data_free
  radioTable_loop_free
  qvRadioStatsTable_create_data_context
  qvRadioStatsTable_commit_row
  qvVIfStatsTable_get_first_data_point
  qvVIfStatsTable_get_next_data_point
  qvVIfTable_context_convert_function
  VIfTable_data_free
  VIfTable_loop_free
  qvVIfStatsTable_create_data_context
  qvVIfStatsTable_commit_row
  qvRadioAttributeTable_get_first_data_point
  qvRadioAttributeTable_get_next_data_point
  qvRadioAttributeTable_context_convert_function
  qvRadioAttributeTable_data_free
  qvRadioAttributeTable_loop_free
  qvRadioAttributeTable_create_data_context
  qvRadioAttributeTable_commit_row
  # column accessors: interfaces
  get_qvIfName
  get_qvSSIDName
  get_qvIfPromiscuous
  get_qvIfType
  get_qvIfMode
  get_qvIfConfMode
  # associations
  get_qvClientMac
  get_qvClientIP
  get_qvClientHostname
  get_qvClientRSSI
  get_qvClientLinkUptime
  get_qvClientCWPUsed
  get_qvClientAuthMethod
  get_qvClientEncryptionMethod
  get_qvClientMACProtocol
  get_qvClientSSID
  get_qvClientVLAN
  get_qvClientUserProfId
  get_qvClientChannel
  get_qvClientLastTxRate
  get_qvClientUsername
  get_qvClientRxDataFrames
  get_qvClientRxDataOctets
  get_qvClientRxMgtFrames
  get_qvClientRxUnicastFrames
  get_qvClientRxMulticastFrames
  get_qvClientRxBroadcastFrames
  get_qvClientRxMICFailures
  get_qvClientTxDataFrames
  get_qvClientTxMgtFrames
  get_qvClientTxDataOctets
  get_qvClientTxUnicastFrames
  get_qvClientTxMulticastFrames
  get_qvClientTxBroadcastFrames
  get_qvClientLastRxRate
  get_qvClientTxBeDataFrames
  get_qvClientTxBgDataFrames
  get_qvClientTxViDataFrames
  get_qvClientTxVoDataFrames
  get_qvClientTxAirtime
  get_qvClientRxAirtime
  get_qvClientAssociationTime
  get_qvClientBSSID
  # radio statistics
  get_qvRadioTxDataFrames
  get_qvRadioTxUnicastDataFrames
  get_qvRadioTxMulticastDataFrames
  get_qvRadioTxBroadcastDataFrames
  get_qvRadioTxNonBeaconMgtFrames
  get_qvRadioTxBeaconFrames
  get_qvRadioTxTotalRetries
  get_qvRadioTxTotalFramesDropped
  get_qvRadioTxTotalFrameErrors
  get_qvRadioTxFEForExcessiveHWRetries
  get_qvRadioRxTotalDataFrames
  get_qvRadioRxUnicastDataFrames
  get_qvRadioRxMulticastDataFrames
  get_qvRadioRxBroadcastDataFrames
  get_qvRadioRxMgtFrames
  get_qvRadioRxTotalFrameDropped
  get_qvRadioTxBeDataFrames
  get_qvRadioTxBgDataFrames
  get_qvRadioTxViDataFrames
  get_qvRadioTxVoDataFrames
  get_qvRadioTXRTSFailures
  get_qvRadioTxAirtime
  get_qvRadioRxAirtime
  # virtual interface statistics
  get_qvVIfRxDataFrames
  get_qvVIfRxUnicastDataFrames
  get_qvVIfRxMulticastDataFrames
  get_qvVIfRxBroadcastDataFrames
  get_qvVIfRxErrorFrames
  get_qvVIfRxDroppedFrames
  get_qvVIfTxDataFrames
  get_qvVIfTxUnicastDataFrames
  get_qvVIfTxMulticastDataFrames
  get_qvVIfTxBroadcastDataFrames
  get_qvVIfTxErrorFrames
  get_qvVIfTxDroppedFrames
  get_qvVIfTxBeDataFrames
  get_qvVIfTxBgDataFrames
  get_qvVIfTxViDataFrames
  get_qvVIfTxVoDataFrames
  get_qvVIfTxAirtime
  get_qvVIfRxAirtime
  # radio attributes
  get_qvRadioChannel
  get_qvRadioTxPower
  get_qvRadioNoiseFloor
)
list(LENGTH expected n)
if(NOT n EQUAL 135)
  message(FATAL_ERROR "the expected list itself holds ${n} names, not 135")
endif()
list(SORT expected)

find_program(NM nm REQUIRED)
find_program(READELF readelf REQUIRED)

# Defined dynamic symbols, names only.
execute_process(COMMAND ${NM} -D --defined-only --format=posix "${MODULE}"
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE "\n" ";" lines "${out}")
set(actual)
foreach(line IN LISTS lines)
  string(REGEX REPLACE " .*" "" name "${line}")
  list(APPEND actual ${name})
endforeach()
list(SORT actual)

set(problems "")
foreach(name IN LISTS expected)
  if(NOT name IN_LIST actual)
    string(APPEND problems "  not exported: ${name}\n")
  endif()
endforeach()
foreach(name IN LISTS actual)
  if(NOT name IN_LIST expected)
    string(APPEND problems "  exported but not expected: ${name}\n")
  endif()
endforeach()

# Load-time dependencies: libc only.
execute_process(COMMAND ${READELF} -d "${MODULE}" OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "readelf failed on ${MODULE}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" needed "${dyn}")
set(needed_libs)
foreach(entry IN LISTS needed)
  string(REGEX REPLACE ".*\\[([^]]+)\\]" "\\1" lib "${entry}")
  list(APPEND needed_libs ${lib})
endforeach()
if(NOT needed_libs STREQUAL "libc.so.6")
  string(APPEND problems "  NEEDED entries are '${needed_libs}', expected only libc.so.6\n")
endif()

# Nothing of the C++ runtime may be left for the loader.
execute_process(COMMAND ${NM} -D --undefined-only --format=posix "${MODULE}" OUTPUT_VARIABLE undef)
string(REPLACE "\n" ";" undef_lines "${undef}")
foreach(line IN LISTS undef_lines)
  string(REGEX REPLACE " .*" "" name "${line}")
  # __cxa_finalize and __cxa_atexit come from libc itself (crtbegin's
  # references, versioned GLIBC_*); anything else of that family needs the
  # C++ runtime, which the host agent does not load.
  if(name MATCHES "^(_Z|__cxa_|__gxx_)" AND NOT name MATCHES "@GLIBC_[0-9.]+$")
    string(APPEND problems "  undefined C++ runtime symbol: ${name}\n")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "${MODULE}:\n${problems}")
endif()
list(LENGTH actual count)
message(STATUS "${count} exported names as expected; NEEDED: ${needed_libs}")
