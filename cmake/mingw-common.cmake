# Shared part of the mingw-w64 toolchain files: set QUORVANE_MINGW_ARCH (i686 or
# x86_64) and include this. Debian's posix-thread compilers, a static runtime (the
# program runs with no DLL beside it), and the dependencies that
# scripts/windows-deps builds under build/windows-deps/<triple>.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUORVANE_MINGW_ARCH})
set(quorvane_triple ${QUORVANE_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${quorvane_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${quorvane_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${quorvane_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${quorvane_triple}
                         ${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps/${quorvane_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
