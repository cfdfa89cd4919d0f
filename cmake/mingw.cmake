# Shared part of the Windows toolchains (cmake/mingw-i686.cmake and
# cmake/mingw-x86_64.cmake, which set QMX_MINGW_ARCH first): Debian's
# mingw-w64 cross compilers with posix threads, the libraries that
# scripts/bootstrap builds for the target into build/mingw/<arch>, and Wine to
# run the target's programs (tests, tools) on this machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QMX_MINGW_ARCH})
set(QMX_MINGW_TRIPLET ${QMX_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${QMX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QMX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QMX_MINGW_TRIPLET}-windres)

get_filename_component(QMX_MINGW_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(QMX_MINGW_PREFIX "${QMX_MINGW_SOURCE_DIR}/build/mingw/${QMX_MINGW_ARCH}")
set(CMAKE_FIND_ROOT_PATH /usr/${QMX_MINGW_TRIPLET} "${QMX_MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${QMX_MINGW_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
list(APPEND CMAKE_PREFIX_PATH "${QMX_MINGW_PREFIX}")

# Every program of the build is linked statically (C and C++ runtime, thread
# library), so neither Wine nor a Windows machine needs mingw DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Programs start under Wine (cmake/wine-run: its own prefix in the build tree,
# no display, no debug channels).
set(CMAKE_CROSSCOMPILING_EMULATOR "${QMX_MINGW_SOURCE_DIR}/cmake/wine-run;${QMX_MINGW_ARCH}")
