# Cross-compilation to 32-bit Windows (the shipped program).
set(QUORVANE_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
