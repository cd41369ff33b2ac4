# `cpack` in a build directory makes one ZIP with the module (the .aex, the
# bundle, or the build machine's module) and a short install text. A module
# built against host/ says so in the archive's name and in its text: it is
# proven in the substitute host, not meant for the host itself.

if(WIN32)
  set(_tovane_platform win64)
elseif(APPLE)
  set(_tovane_platform macos-x86_64)
else()
  set(_tovane_platform ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
  string(TOLOWER ${_tovane_platform} _tovane_platform)
endif()

if(TOVANE_BUILT_AGAINST_HOST_HEADERS)
  set(_tovane_build_kind "")
  set(_tovane_install_text ${PROJECT_SOURCE_DIR}/cmake/INSTALL-host.txt.in)
else()
  set(_tovane_build_kind -substitute-host-build)
  set(_tovane_install_text ${PROJECT_SOURCE_DIR}/cmake/INSTALL-substitute-host.txt.in)
endif()
configure_file(${_tovane_install_text} ${PROJECT_BINARY_DIR}/INSTALL.txt @ONLY)

install(TARGETS TovaneParvolith LIBRARY DESTINATION .)
install(FILES ${PROJECT_BINARY_DIR}/INSTALL.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME TovaneParvolith)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME TovaneParvolith-${PROJECT_VERSION}-${_tovane_platform}${_tovane_build_kind})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
