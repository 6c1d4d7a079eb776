# SPDX-License-Identifier: BSD-3-Clause
# qv_agent_test(NAME name COMMAND cmd... [LABELS l...] [TIMEOUT s] [ENVIRONMENT e...])
# Registers a test that talks to a running agent through tests/harness/qvagent.py,
# handing it the built files. Included from the top level, so the components'
# own test folders (sim/, datasource-nl80211/) can use it too. A .py first word
# runs with the project's Python.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(QV_SNMPD snmpd PATHS /usr/sbin /sbin REQUIRED)

set(QV_AGENT_TEST_ENV
  "QV_MODULE=$<TARGET_FILE:qv_if_iterate>"
  "QV_SIM=$<TARGET_FILE:qv_wlan_sim>"
  "QV_SNMPD=${QV_SNMPD}"
  "QV_BASE_MIB_DIR=${QV_BASE_MIB_DIR}"
  "QV_MIB_DIR=${PROJECT_SOURCE_DIR}/mibs"
  "QV_REFERENCE_DIR=${PROJECT_SOURCE_DIR}/tests/reference"
  "QV_SANITIZER_PRELOAD=${QV_SANITIZER_PRELOAD}"
  "PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/harness"
  "PATH=/usr/sbin:/sbin:$ENV{PATH}")

function(qv_agent_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
  list(GET T_COMMAND 0 first)
  if(first MATCHES "\\.py$")
    list(PREPEND T_COMMAND ${Python3_EXECUTABLE})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
    ENVIRONMENT "${QV_AGENT_TEST_ENV};${T_ENVIRONMENT}")
endfunction()
