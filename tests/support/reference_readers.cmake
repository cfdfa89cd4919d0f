# The reference readers (tests/support/reference_*.cc): the models that the
# differential tests and the differential fuzz targets compare the readers
# with. One library for both, never linked into the plugin. msgpack-cxx is
# used header-only, without its optional Boost parts, where its header is
# found (for the Windows builds, the build machine's copy); where there is
# none the MessagePack model reports itself missing (HaveMessagePack).
if(NOT TARGET qmx_reference_readers)
  add_library(qmx_reference_readers STATIC EXCLUDE_FROM_ALL
    ${CMAKE_SOURCE_DIR}/tests/support/reference_readers.cc
    ${CMAKE_SOURCE_DIR}/tests/support/reference_comparisons.cc
    ${CMAKE_SOURCE_DIR}/tests/support/reference_yaml_documents.cc
    ${CMAKE_SOURCE_DIR}/tests/support/reference_message_pack.cc)
  target_include_directories(qmx_reference_readers PUBLIC ${CMAKE_SOURCE_DIR}/tests)
  target_include_directories(qmx_reference_readers SYSTEM PRIVATE ${RAPIDJSON_INCLUDE_DIR})
  target_link_libraries(qmx_reference_readers PUBLIC qmx_common qmx_binding qmx_serialization)
  find_path(MSGPACK_INCLUDE_DIR msgpack.hpp)
  # The Windows cross builds see only their own include folder. msgpack-cxx
  # is headers only, so they can use the build machine's copy, from a folder
  # that holds it alone (the machine's include folder holds its C library too).
  if(NOT MSGPACK_INCLUDE_DIR AND CMAKE_CROSSCOMPILING)
    find_path(QMX_BUILD_MACHINE_MSGPACK_DIR msgpack.hpp NO_CMAKE_FIND_ROOT_PATH)
    if(QMX_BUILD_MACHINE_MSGPACK_DIR)
      set(staged ${CMAKE_BINARY_DIR}/msgpack-cxx)
      file(MAKE_DIRECTORY ${staged})
      foreach(entry msgpack.hpp msgpack)
        file(CREATE_LINK ${QMX_BUILD_MACHINE_MSGPACK_DIR}/${entry} ${staged}/${entry} SYMBOLIC)
      endforeach()
      set(MSGPACK_INCLUDE_DIR ${staged})
    endif()
  endif()
  if(MSGPACK_INCLUDE_DIR)
    target_include_directories(qmx_reference_readers SYSTEM PRIVATE ${MSGPACK_INCLUDE_DIR})
    target_compile_definitions(qmx_reference_readers PRIVATE QMX_HAVE_MSGPACK_CXX MSGPACK_NO_BOOST)
  else()
    message(STATUS "msgpack-cxx not found: the MessagePack reference is left out")
  endif()
endif()
