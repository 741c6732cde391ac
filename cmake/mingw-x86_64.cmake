# Cross-compilation to 64-bit Windows: the same sources as the shipped program,
# built so that the tests run under wine64 (this machine runs no 32-bit code).
set(QUORVANE_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# wine64 with a fixed address layout, which every start needs (see the script).
get_filename_component(wine_run ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_run})
