include(${CMAKE_CURRENT_LIST_DIR}/HeaderOnlyPackage.cmake)
tovane_header_only_version(NLOHMANN_JSON_VERSION
  /usr/include/nlohmann/json.hpp /usr/include/nlohmann/detail/abi_macros.hpp)
