include(${CMAKE_CURRENT_LIST_DIR}/HeaderOnlyPackage.cmake)
tovane_header_only_version(CLI11_VERSION /usr/include/CLI/Version.hpp)
