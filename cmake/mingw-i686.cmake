# 32-bit Windows (i686): the shipped DLL.
set(QMX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
