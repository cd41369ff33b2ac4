# Cross-builds the Windows x64 module (TovaneParvolith.aex) and, with
# TOVANE_BUILD_HOST, a Windows tovane-host that runs under Wine, using
# Debian's MinGW-w64 (g++-mingw-w64-x86-64, binutils-mingw-w64-x86-64).
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# On Windows itself, configure with Visual Studio instead (docs/windows.md).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVANE_MINGW_TRIPLE x86_64-w64-mingw32)

# The POSIX thread model: the win32 model of GCC 12 has no std::thread or
# std::mutex, which the substitute host may use. Its pthread library is
# linked statically below like the rest of the runtime.
find_program(CMAKE_C_COMPILER NAMES ${TOVANE_MINGW_TRIPLE}-gcc-posix ${TOVANE_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TOVANE_MINGW_TRIPLE}-g++-posix ${TOVANE_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TOVANE_MINGW_TRIPLE}-windres REQUIRED)
find_program(CMAKE_AR NAMES ${TOVANE_MINGW_TRIPLE}-gcc-ar-posix ${TOVANE_MINGW_TRIPLE}-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES ${TOVANE_MINGW_TRIPLE}-gcc-ranlib-posix ${TOVANE_MINGW_TRIPLE}-ranlib REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${TOVANE_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TOVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The host loads the module into its own process, and a user copies one file
# into the Plug-ins folder: libgcc, libstdc++ and winpthread go into every
# binary, so nothing but Windows' own DLLs is imported.
set(_tovane_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_tovane_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_tovane_static_runtime}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_tovane_static_runtime}")

# CLI11 and nlohmann-json, header-only, for the substitute host and its
# command: found through package files that expose only their own headers.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64 CACHE PATH "CLI11 for the cross-build")
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64 CACHE PATH "nlohmann-json for the cross-build")
