# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# which std::thread and std::mutex need). Use with
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KFU_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KFU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KFU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KFU_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KFU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C++ runtime and winpthreads are linked in, so
# only the system's own DLLs are needed on the target machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine on the build machine (ctest and GoogleTest's
# discovery go through this); KFU_WINE names the loader when it is not on PATH.
if(NOT DEFINED KFU_WINE)
    find_program(KFU_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(KFU_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KFU_WINE})
endif()
