# Cross-links the macOS x86-64 bundle on a Linux build machine with clang and
# Debian's ld64.lld, without a macOS SDK. The effect needs nothing from the
# SDK: it is compiled against the build machine's libstdc++ and C headers
# (only header-level parts are used) and its few C and C++ runtime references
# (__cxa_throw, ___gxx_personality_v0, _memset, ...) are left undefined for
# the host process, which carries libc++abi and libSystem, to bind at load.
# On a Mac, configure without this file (see docs/macos.md).

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_SYSTEM_VERSION 17.0)  # Darwin 17 is macOS 10.13

set(TOVANE_MACOS_TARGET x86_64-apple-macos10.13)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOVANE_MACOS_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${TOVANE_MACOS_TARGET})
set(CMAKE_AR llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib CACHE FILEPATH "")
set(CMAKE_OSX_ARCHITECTURES x86_64 CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET 10.13 CACHE STRING "")
# No SDK: keeps CMake from asking xcrun for one.
set(CMAKE_OSX_SYSROOT "/" CACHE PATH "")

# The newest libstdc++ the build machine has.
file(GLOB _tovane_libstdcxx_dirs LIST_DIRECTORIES true /usr/include/c++/[0-9]*)
if(NOT _tovane_libstdcxx_dirs)
  message(FATAL_ERROR "macOS cross-build: no libstdc++ headers in /usr/include/c++ (install g++)")
endif()
list(SORT _tovane_libstdcxx_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET _tovane_libstdcxx_dirs 0 _tovane_libstdcxx)
get_filename_component(_tovane_libstdcxx_version ${_tovane_libstdcxx} NAME)
set(_tovane_multiarch /usr/include/x86_64-linux-gnu)

# Apple targets predefine __nonnull and __nullable as nullability keywords,
# which glibc's headers use as attribute macros. libstdc++ expects glibc's
# GNU declarations, which g++ always asks for on Linux.
set(_tovane_header_flags "-U__nonnull -U__nullable -D_GNU_SOURCE -isystem ${_tovane_multiarch}")
set(CMAKE_C_FLAGS_INIT "${_tovane_header_flags}")
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${_tovane_libstdcxx} -isystem ${_tovane_multiarch}/c++/${_tovane_libstdcxx_version} ${_tovane_header_flags}")

# No libSystem or libc++ to link against: every runtime symbol stays
# undefined and is looked up in the loading process.
set(_tovane_link_flags "-fuse-ld=lld -nostdlib -Wl,-undefined,dynamic_lookup -Wno-unused-command-line-argument")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_tovane_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_tovane_link_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_tovane_link_flags}")

# An executable cannot be linked without libSystem's start-up code, so the
# compiler checks stop at a static library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
