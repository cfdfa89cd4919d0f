# The reference readers (tests/support/reference_*.cc): the models that the
# differential tests and the differential fuzz targets compare the readers
# with. One library for both, never linked into the plugin. msgpack-cxx is
# used header-only, without its optional Boost parts, where its header is
# found; the Windows builds have none, and the MessagePack model then reports
# itself missing (HaveMessagePack).
if(NOT TARGET qmx_reference_readers)
  add_library(qmx_reference_readers STATIC
    ${CMAKE_SOURCE_DIR}/tests/support/reference_readers.cc
    ${CMAKE_SOURCE_DIR}/tests/support/reference_comparisons.cc
    ${CMAKE_SOURCE_DIR}/tests/support/reference_message_pack.cc)
  target_include_directories(qmx_reference_readers PUBLIC ${CMAKE_SOURCE_DIR}/tests)
  target_include_directories(qmx_reference_readers SYSTEM PRIVATE ${RAPIDJSON_INCLUDE_DIR})
  target_link_libraries(qmx_reference_readers PUBLIC qmx_common qmx_binding qmx_serialization)
  find_path(MSGPACK_INCLUDE_DIR msgpack.hpp)
  if(MSGPACK_INCLUDE_DIR)
    target_include_directories(qmx_reference_readers SYSTEM PRIVATE ${MSGPACK_INCLUDE_DIR})
    target_compile_definitions(qmx_reference_readers PRIVATE QMX_HAVE_MSGPACK_CXX MSGPACK_NO_BOOST)
  else()
    message(STATUS "msgpack-cxx not found: the MessagePack reference is left out")
  endif()
endif()
