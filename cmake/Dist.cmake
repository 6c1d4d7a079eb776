# SPDX-License-Identifier: BSD-3-Clause
# The release: cmake --build BUILD --target dist writes to BUILD/dist/
#   qv-wlan-snmp-<version>.tar.gz          git archive of HEAD under the prefix
#                                          qv-wlan-snmp-<version>/, through
#                                          gzip -n: the same bytes every time
#                                          from the same commit
#   qv-wlan-snmp-<version>.tar.gz.sha256   its SHA-256, as sha256sum -c reads it
#   recipes/                               the firmware recipes for that tarball
# Recipes (the contract every recipe under packaging/ is written to): every
# file under packaging/openwrt/, packaging/buildroot/ and packaging/yocto/ of
# the archived commit is copied to BUILD/dist/recipes/<the same relative path>
# (recipes/openwrt/..., recipes/buildroot/..., recipes/yocto/...). A file whose
# name ends in ".in" is rendered with configure_file(@ONLY) instead, to its name
# without ".in", "@QV_VERSION@" in the file name also replaced (so a file that
# must keep ".in", like Buildroot's Config.in, is kept as Config.in.in), with:
#   @QV_VERSION@   the project's version (project() in CMakeLists.txt, the one
#                  version number)
#   @QV_SHA256@    the tarball's SHA-256 (64 lowercase hex digits)
#   @QV_TARBALL@   the tarball's file name, qv-wlan-snmp-<version>.tar.gz
#   @QV_LICENSE_SHA256@, @QV_LICENSE_MD5@   the hashes of its LICENSE, which
#                  Buildroot's .hash and Yocto's LIC_FILES_CHKSUM check
# The recipes come from the tarball itself, so they always match what it holds
# (uncommitted changes are in neither). .gitattributes (export-ignore) says
# what the tarball leaves out. The commit's NEWS.md must have the version's
# entry ("## <version> (<date>)").
if(NOT CMAKE_SCRIPT_MODE_FILE)
  # Only a git checkout can make a release; a tree unpacked from one cannot.
  if(EXISTS "${PROJECT_SOURCE_DIR}/.git")
    add_custom_target(dist
      COMMAND "${CMAKE_COMMAND}" "-DQV_SOURCE=${PROJECT_SOURCE_DIR}" "-DQV_DIST=${CMAKE_BINARY_DIR}/dist"
              "-DQV_VERSION=${PROJECT_VERSION}" -P "${CMAKE_CURRENT_LIST_FILE}"
      COMMENT "Release tarball, its SHA-256 and the recipes in ${CMAKE_BINARY_DIR}/dist"
      VERBATIM)
  endif()
  return()
endif()

cmake_minimum_required(VERSION 3.18)
set(name qv-wlan-snmp-${QV_VERSION})
set(QV_TARBALL ${name}.tar.gz)
set(tarball "${QV_DIST}/${QV_TARBALL}")
file(REMOVE_RECURSE "${QV_DIST}")
file(MAKE_DIRECTORY "${QV_DIST}")
execute_process(COMMAND git -C "${QV_SOURCE}" status --porcelain --untracked-files=no
                OUTPUT_VARIABLE dirty RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dist: ${QV_SOURCE} is not a git checkout")
endif()
if(dirty)
  message(WARNING "dist: uncommitted changes are not in the tarball (it is HEAD):\n${dirty}")
endif()
# git archive stamps every entry with the commit's time; gzip -n leaves out
# the name and time it would otherwise record.
execute_process(COMMAND git -C "${QV_SOURCE}" archive --format=tar "--prefix=${name}/" HEAD
                COMMAND gzip -n -9
                OUTPUT_FILE "${tarball}" RESULTS_VARIABLE rcs)
if(NOT rcs STREQUAL "0;0")
  message(FATAL_ERROR "dist: git archive | gzip failed (${rcs})")
endif()
file(SHA256 "${tarball}" QV_SHA256)
file(WRITE "${tarball}.sha256" "${QV_SHA256}  ${QV_TARBALL}\n")

set(unpacked "${QV_DIST}/.unpacked")
file(MAKE_DIRECTORY "${unpacked}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xzf "${tarball}" WORKING_DIRECTORY "${unpacked}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dist: cannot unpack ${tarball}")
endif()
# A release says what it brings: NEWS.md of that commit has its entry.
file(STRINGS "${unpacked}/${name}/NEWS.md" news REGEX "^## ${QV_VERSION} ")
if(NOT news)
  message(FATAL_ERROR "dist: NEWS.md has no entry for ${QV_VERSION} (a line \"## ${QV_VERSION} (DATE)\")")
endif()
file(SHA256 "${unpacked}/${name}/LICENSE" QV_LICENSE_SHA256)
file(MD5 "${unpacked}/${name}/LICENSE" QV_LICENSE_MD5)
set(packaging "${unpacked}/${name}/packaging")
file(GLOB_RECURSE recipes RELATIVE "${packaging}"
     "${packaging}/openwrt/*" "${packaging}/buildroot/*" "${packaging}/yocto/*")
foreach(file IN LISTS recipes)
  if(file MATCHES "\\.in$")
    string(REGEX REPLACE "\\.in$" "" out "${file}")
    string(REPLACE "@QV_VERSION@" "${QV_VERSION}" out "${out}")
    configure_file("${packaging}/${file}" "${QV_DIST}/recipes/${out}" @ONLY)
  else()
    get_filename_component(dir "${QV_DIST}/recipes/${file}" DIRECTORY)
    file(COPY "${packaging}/${file}" DESTINATION "${dir}")
  endif()
endforeach()
file(REMOVE_RECURSE "${unpacked}")
message(STATUS "dist: ${tarball}\n  sha256 ${QV_SHA256}\n  recipes in ${QV_DIST}/recipes")
