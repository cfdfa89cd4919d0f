# The runtime's layers, bottom up, and the only list of them: each layer is one
# folder directly under src/ and one static library, and the order of the
# qmx_layer() calls below is the layer order. A file may include headers of its
# own layer and of the layers listed before it; each library links exactly the
# layers its files include, so the target graph is the architecture.
# scripts/check-layers reads this file to check both, and that no folder holds
# files of two layers; the README's layout table follows it (its test checks
# the order).
#
# Files that exist for one platform family only end in _posix.cc or _win32.cc;
# the build takes the one that fits (QMX_OTHER_PLATFORM_SOURCES).

function(qmx_layer library folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${folder}/*.cc)
  list(FILTER sources EXCLUDE REGEX "${QMX_OTHER_PLATFORM_SOURCES}")
  add_library(${library} STATIC ${sources})
  target_include_directories(${library} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  if(ARGN)
    target_link_libraries(${library} PUBLIC ${ARGN})
  endif()
endfunction()

qmx_layer(qmx_port port Threads::Threads ${CMAKE_DL_LIBS})
qmx_layer(qmx_common common)
qmx_layer(qmx_messages messages)
qmx_layer(qmx_logging logging qmx_port)
qmx_layer(qmx_binding binding qmx_port qmx_common qmx_messages)
qmx_layer(qmx_serialization serialization qmx_common qmx_messages qmx_binding ${YAML_STATIC_LIBRARY})
target_include_directories(qmx_serialization SYSTEM PRIVATE ${RAPIDJSON_INCLUDE_DIR} ${YAML_INCLUDE_DIRS})
target_compile_options(qmx_serialization PRIVATE ${YAML_CFLAGS_OTHER})
qmx_layer(qmx_interface interface qmx_port qmx_messages qmx_binding)
qmx_layer(qmx_routing routing qmx_common qmx_messages qmx_binding qmx_serialization qmx_interface)
qmx_layer(qmx_plugin plugin qmx_common qmx_messages qmx_logging qmx_binding qmx_serialization
          qmx_interface qmx_routing)
qmx_layer(qmx_entitlements entitlements qmx_common qmx_logging qmx_binding qmx_serialization
          qmx_routing qmx_plugin)

# The top layer holds two kinds of shim and is no library. raw_allocation*.cc
# link programs that use the runtime libraries directly (tests, tools): there
# the counted allocator's system calls are the ordinary malloc family. The
# other files make the shared object: its one export and the wrapped malloc
# family that routes every allocation of the object through the counted
# allocator.
function(qmx_export_layer folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${folder}/*.cc)
  list(FILTER sources EXCLUDE REGEX "${QMX_OTHER_PLATFORM_SOURCES}")
  set(QMX_EXPORT_FOLDER ${CMAKE_SOURCE_DIR}/src/${folder} PARENT_SCOPE)
  set(QMX_EXPORT_SOURCES ${sources} PARENT_SCOPE)
endfunction()

qmx_export_layer(export)
set(QMX_STANDALONE_SOURCES ${QMX_EXPORT_SOURCES})
list(FILTER QMX_STANDALONE_SOURCES INCLUDE REGEX "/raw_allocation[^/]*\\.cc$")
list(FILTER QMX_EXPORT_SOURCES EXCLUDE REGEX "/raw_allocation[^/]*\\.cc$")
# An object library: its symbols are wanted by qmx_port, below every other
# library on a link line, so each program links its objects itself.
add_library(qmx_standalone OBJECT ${QMX_STANDALONE_SOURCES})
