# The Windows DLL (presets win32 and win64, toolchains cmake/mingw-*.cmake).
#
# The DLL exports load_entitlements alone, undecorated (exports.def), and is
# linked -static: the C and C++ runtimes, the thread library and libyaml are
# inside it, so it imports nothing but system DLLs. As on Linux, the malloc
# family of everything linked in is wrapped (ld --wrap) so that it reaches the
# counted allocator; the C runtime of Windows has _strdup beside strdup, and no
# posix_memalign, aligned_alloc or memalign to wrap.
#
# The thread runtime is the exception. Emulated thread-local storage (libgcc's
# emutls, behind every thread_local, the C++ runtime's exception state
# included) and the thread library (winpthreads) allocate per thread, on the
# thread's first use, and free at its exit; counted, that memory would make
# the bytes in use of a plugin drift with the host's threads. The link takes
# copies of those two libraries whose malloc family is renamed to
# qmx_thread_runtime_* (allocation_wrappers_win32.cc), which go straight to the
# C runtime, uncounted.
set(QMX_WINDOWS_TOOLS qmx-loader qmx-value qmx-host qmx-demo-service)

function(qmx_thread_runtime_on_system_heap target)
  set(dir "${CMAKE_BINARY_DIR}/thread-runtime")
  file(MAKE_DIRECTORY "${dir}")
  # 32-bit Windows symbols carry a leading underscore.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix "_")
  else()
    set(prefix "")
  endif()
  set(renames "")
  foreach(function malloc calloc realloc free)
    list(APPEND renames --redefine-sym "${prefix}${function}=${prefix}qmx_thread_runtime_${function}")
  endforeach()
  foreach(library libgcc_eh.a libwinpthread.a libpthread.a)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
                    OUTPUT_VARIABLE original OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${original}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${library}")
    endif()
    execute_process(COMMAND ${CMAKE_OBJCOPY} ${renames} "${original}" "${dir}/${library}"
                    RESULT_VARIABLE copied ERROR_VARIABLE copyError)
    if(NOT copied EQUAL 0)
      message(FATAL_ERROR "cannot copy ${original}: ${copyError}")
    endif()
  endforeach()
  # Searched before the compiler's own library folders.
  target_link_options(${target} PRIVATE "-L${dir}")
endfunction()

function(qmx_windows_plugin target)
  set(wrapped malloc free calloc realloc strdup _strdup)
  list(TRANSFORM wrapped PREPEND "-Wl,--wrap=" OUTPUT_VARIABLE wrapFlags)
  target_sources(${target} PRIVATE ${QMX_EXPORT_FOLDER}/exports.def)
  target_link_options(${target} PRIVATE -static -static-libstdc++ -static-libgcc -Wl,--no-undefined ${wrapFlags})
  qmx_thread_runtime_on_system_heap(${target})
endfunction()
