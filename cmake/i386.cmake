# Builds the 32-bit x86 plugin with the host's multilib gcc.
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -march=i686 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -march=i686 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
list(APPEND CMAKE_PREFIX_PATH /usr/lib/i386-linux-gnu/cmake)

# How i386 programs run on this machine, decided once per configure: natively
# where the kernel executes 32-bit code, otherwise under qemu-i386 (Debian's
# qemu-user), which some kernels need because they refuse 32-bit programs with
# "Exec format error". QMX_I386_EMULATOR in the environment names an emulator
# command to use even where i386 runs natively, so that path can be tried
# anywhere. The result becomes CMAKE_CROSSCOMPILING_EMULATOR, which add_test,
# gtest_discover_tests and CTest prefix to every i386 program they start; the
# project writes it into the build as well (qmx-run, QMX_RUN) for scripts and
# shell tests.
#
# CMake reads a toolchain file again for every try_compile of the same run;
# the environment carries the decision across those reads.
function(qmx_decide_i386_runner)
  set(probeDir "${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe")
  file(MAKE_DIRECTORY "${probeDir}")
  file(WRITE "${probeDir}/probe.c" "int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n")
  execute_process(COMMAND gcc -m32 "${probeDir}/probe.c" -o "${probeDir}/probe"
                  RESULT_VARIABLE built OUTPUT_QUIET ERROR_VARIABLE buildError)
  if(NOT built EQUAL 0)
    message(FATAL_ERROR "gcc -m32 cannot build a 32-bit program here; install Debian's "
                        "g++-multilib package (scripts/bootstrap does):\n${buildError}")
  endif()

  if(NOT "$ENV{QMX_I386_EMULATOR}" STREQUAL "")
    separate_arguments(runner UNIX_COMMAND "$ENV{QMX_I386_EMULATOR}")
    set(reason "QMX_I386_EMULATOR")
  else()
    execute_process(COMMAND "${probeDir}/probe" RESULT_VARIABLE native OUTPUT_QUIET ERROR_QUIET)
    if(native EQUAL 0)
      return()
    endif()
    find_program(QMX_QEMU_I386 qemu-i386)
    if(NOT QMX_QEMU_I386)
      message(FATAL_ERROR "This machine does not run 32-bit programs and qemu-i386 is missing; "
                          "install Debian's qemu-user package (scripts/bootstrap does).")
    endif()
    set(runner "${QMX_QEMU_I386}")
    set(reason "the kernel does not run 32-bit programs")
  endif()

  execute_process(COMMAND ${runner} "${probeDir}/probe" RESULT_VARIABLE emulated OUTPUT_QUIET ERROR_QUIET)
  if(NOT emulated EQUAL 0)
    message(FATAL_ERROR "'${runner}' cannot run a 32-bit program here; install Debian's "
                        "qemu-user package (scripts/bootstrap does), or unset QMX_I386_EMULATOR.")
  endif()
  message(STATUS "i386 programs run under ${runner} (${reason})")
  set(ENV{QMX_I386_RUNNER} "${runner}")
endfunction()

if(NOT DEFINED ENV{QMX_I386_RUNNER_DECIDED})
  set(ENV{QMX_I386_RUNNER_DECIDED} 1)
  qmx_decide_i386_runner()
endif()
if(NOT "$ENV{QMX_I386_RUNNER}" STREQUAL "")
  set(CMAKE_CROSSCOMPILING_EMULATOR "$ENV{QMX_I386_RUNNER}")
endif()
