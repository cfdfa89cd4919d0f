# 64-bit Windows (x86-64): the same sources, whose tests run under wine64 on
# any x86-64 kernel.
set(QMX_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
