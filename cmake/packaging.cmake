# What an install and a release archive hold:
#
#   bin/                      qmx-host, qmx-value, qmx-loader, qmx-demo-service (qmx-loader.exe and
#                             the plugin DLL on Windows)
#   lib/                      qmx-be-entitlements.so, the CMake package and the pkg-config file
#   include/qmx-be-entitlements/plugin/
#                             host_api.h, api_descriptor.h: the C interface of the host
#   share/doc/qmx-be-entitlements/
#                             README.md, LICENSE, THIRD_PARTY_NOTICES
#   share/qmx-be-entitlements/examples/
#                             demo-config.yaml
#
# Only builds with the plugin install anything (the fuzz and tsan presets do not).
if(NOT QMX_BUILD_PLUGIN)
  return()
endif()

include(CMakePackageConfigHelpers)

set(QMX_PACKAGE qmx-be-entitlements)
# The headers keep their interface/ folder, as api_descriptor.h includes
# "interface/host_api.h";
# the include root is namespaced so that a system-wide install adds no bare plugin/ folder.
set(QMX_INSTALL_INCLUDE_ROOT ${CMAKE_INSTALL_INCLUDEDIR}/${QMX_PACKAGE})
set(QMX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/${QMX_PACKAGE})
set(QMX_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QMX_PACKAGE})
if(WIN32)
  set(QMX_INSTALL_PLUGIN ${CMAKE_INSTALL_BINDIR}/${QMX_PACKAGE}${CMAKE_SHARED_LIBRARY_SUFFIX})
else()
  set(QMX_INSTALL_PLUGIN ${CMAKE_INSTALL_LIBDIR}/${QMX_PACKAGE}${CMAKE_SHARED_LIBRARY_SUFFIX})
endif()

# The C interface of the host as a headers-only target, qmx::host_api, in the
# build tree and for find_package(qmx-be-entitlements).
add_library(qmx_host_api INTERFACE)
add_library(qmx::host_api ALIAS qmx_host_api)
set_target_properties(qmx_host_api PROPERTIES EXPORT_NAME host_api)
target_include_directories(qmx_host_api INTERFACE
  $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src>
  $<INSTALL_INTERFACE:${QMX_INSTALL_INCLUDE_ROOT}>)

# Windows builds ship the plugin, qmx-loader and the reference host with its
# demo service.
if(WIN32)
  set(QMX_INSTALL_TOOLS qmx-host qmx-loader qmx-demo-service)
else()
  set(QMX_INSTALL_TOOLS qmx-host qmx-value qmx-loader qmx-demo-service)
endif()

# A host loads the plugin at run time, so the DLL's import library is not shipped.
install(TARGETS ${QMX_PACKAGE}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} EXCLUDE_FROM_ALL)
install(TARGETS ${QMX_INSTALL_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qmx_host_api EXPORT qmx-be-entitlements-targets)
install(FILES ${CMAKE_SOURCE_DIR}/src/interface/host_api.h ${CMAKE_SOURCE_DIR}/src/interface/api_descriptor.h
  DESTINATION ${QMX_INSTALL_INCLUDE_ROOT}/interface)
install(FILES ${CMAKE_SOURCE_DIR}/host/examples/demo-config.yaml
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/${QMX_PACKAGE}/examples)

# The CMake package: the targets, the config with the include folder and the
# installed plugin's path, and a version file (same major version, same pointer size).
install(EXPORT qmx-be-entitlements-targets NAMESPACE qmx:: DESTINATION ${QMX_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/qmx-be-entitlements-config.cmake.in
  ${CMAKE_BINARY_DIR}/package/qmx-be-entitlements-config.cmake
  INSTALL_DESTINATION ${QMX_INSTALL_CMAKEDIR}
  PATH_VARS QMX_INSTALL_INCLUDE_ROOT QMX_INSTALL_PLUGIN)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/qmx-be-entitlements-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/qmx-be-entitlements-config.cmake
  ${CMAKE_BINARY_DIR}/package/qmx-be-entitlements-config-version.cmake
  DESTINATION ${QMX_INSTALL_CMAKEDIR})

# The pkg-config file; its prefix is found from its own folder, so an
# unpacked archive works wherever it lands.
set(QMX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QMX_PKGCONFIG_TO_PREFIX /${QMX_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" QMX_PKGCONFIG_TO_PREFIX "${QMX_PKGCONFIG_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/qmx-be-entitlements.pc.in ${CMAKE_BINARY_DIR}/package/${QMX_PACKAGE}.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/${QMX_PACKAGE}.pc DESTINATION ${QMX_PKGCONFIG_DIR})

# THIRD_PARTY_NOTICES: the copyright files of the Debian packages whose code is
# linked into what ships, found at build time from the files the build uses
# (cmake/notices.cmake). Each entry: title, a file the build links or includes,
# and the licence file of /usr/share/common-licenses its copyright file refers to
# for that component ("-" for none).
separate_arguments(QMX_CXX_FLAG_LIST UNIX_COMMAND "${CMAKE_CXX_FLAGS}")
execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${QMX_CXX_FLAG_LIST} -print-file-name=libstdc++.a
  OUTPUT_VARIABLE QMX_LIBSTDCXX_ARCHIVE OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${QMX_CXX_FLAG_LIST} -print-libgcc-file-name
  OUTPUT_VARIABLE QMX_LIBGCC_ARCHIVE OUTPUT_STRIP_TRAILING_WHITESPACE)
# The Windows builds link a libyaml that scripts/mingw-libraries builds from
# Debian's libyaml source package, which no binary package owns: its notice is
# that of the same source's development package. They also link the thread
# runtime of mingw-w64 (winpthreads) into the DLL.
if(WIN32)
  set(QMX_YAML_NOTICE_FILE /usr/include/yaml.h)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread.a
    OUTPUT_VARIABLE QMX_WINPTHREAD_ARCHIVE OUTPUT_STRIP_TRAILING_WHITESPACE)
else()
  set(QMX_YAML_NOTICE_FILE ${YAML_STATIC_LIBRARY})
endif()
set(QMX_NOTICE_ENTRIES
  "libyaml (linked into the plugin and the tools)" "${QMX_YAML_NOTICE_FILE}" "-"
  "RapidJSON (compiled into the plugin and the tools)" "${RAPIDJSON_INCLUDE_DIR}/rapidjson/reader.h" "-"
  "The C++ runtime, libstdc++ (linked into the plugin)" "${QMX_LIBSTDCXX_ARCHIVE}" "GPL-3"
  "The compiler support library, libgcc (linked into the plugin)" "${QMX_LIBGCC_ARCHIVE}" "GPL-3")
if(WIN32)
  list(APPEND QMX_NOTICE_ENTRIES
    "The mingw-w64 thread runtime, winpthreads (linked into the DLL)" "${QMX_WINPTHREAD_ARCHIVE}" "-")
endif()
if("qmx-host" IN_LIST QMX_INSTALL_TOOLS)
  # The Windows builds compile the single header that scripts/mingw-libraries
  # takes from Debian's cpp-httplib source package: its notice is that of the
  # same source's development package, as for libyaml.
  if(WIN32)
    set(QMX_HTTPLIB_HEADER /usr/include/httplib.h)
  else()
    find_file(QMX_HTTPLIB_HEADER httplib.h PATHS ${HTTPLIB_INCLUDE_DIRS} REQUIRED)
  endif()
  list(APPEND QMX_NOTICE_ENTRIES
    "cpp-httplib (its headers are compiled into qmx-host and qmx-demo-service)" "${QMX_HTTPLIB_HEADER}" "-")
endif()
set(QMX_NOTICES ${CMAKE_BINARY_DIR}/package/THIRD_PARTY_NOTICES)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/package/notice-entries.cmake
  CONTENT "set(QMX_NOTICE_ENTRIES [==[${QMX_NOTICE_ENTRIES}]==])\n")
add_custom_command(OUTPUT ${QMX_NOTICES}
  COMMAND ${CMAKE_COMMAND} -DENTRIES=${CMAKE_BINARY_DIR}/package/notice-entries.cmake
          -DOUTPUT=${QMX_NOTICES} -P ${CMAKE_SOURCE_DIR}/cmake/notices.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/notices.cmake ${CMAKE_BINARY_DIR}/package/notice-entries.cmake
  COMMENT "Collecting the third-party notices"
  VERBATIM)
add_custom_target(qmx_notices ALL DEPENDS ${QMX_NOTICES})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE ${QMX_NOTICES}
  DESTINATION ${QMX_INSTALL_DOCDIR})

# Everything an install takes, so that scripts/package need not build the tests.
add_custom_target(qmx_installable DEPENDS ${QMX_PACKAGE} ${QMX_INSTALL_TOOLS} qmx_notices)

# The archives: a .tar.gz for Linux, a .zip for Windows, named after the
# version and the platform (linux-i386, linux-x86_64, win32, win64).
set(CPACK_PACKAGE_NAME ${QMX_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the qmx-be-entitlements authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "The entitlements back-end plugin, its host interface headers and tools")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
else()
  set(CPACK_GENERATOR TGZ)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME linux-i386)
  else()
    set(CPACK_SYSTEM_NAME linux-${CMAKE_HOST_SYSTEM_PROCESSOR})
  endif()
endif()
# The archives ship the programs without their debug information; the build
# tree keeps it.
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
