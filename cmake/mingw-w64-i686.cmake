# Cross build of the 32-bit Windows program (i686) on Debian with MinGW-w64, for the
# sites whose Firebird is a 32-bit installation (a 64-bit program cannot load its
# fbclient.dll). Otherwise the same as mingw-w64-x86_64.cmake.
#   cmake -S . -B build-windows32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# The -posix compilers carry the winpthreads thread model that std::thread needs.
# Everything is linked statically, so Zendrel.exe needs only the system's DLLs, and
# test programs run under Wine (the cross-compiling emulator) without any MinGW DLL.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZENDREL_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZENDREL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZENDREL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZENDREL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZENDREL_MINGW_TRIPLET})
# Programs (python3 for the fake platform) come from the build machine; libraries and
# headers only from the cross root, so nothing of the Linux /usr/include leaks in.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(ZENDREL_WINE NAMES wine)
if(ZENDREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZENDREL_WINE})
endif()
