include(${CMAKE_CURRENT_LIST_DIR}/HeaderOnlyPackage.cmake)
tovane_header_only_package(CLI11::CLI11 CLI)
