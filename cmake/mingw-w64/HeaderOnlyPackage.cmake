# Header-only libraries from the build machine, for a MinGW-w64 cross-build.
#
# Their own package files point at /usr/include, and searching /usr/include
# from a cross-build would put glibc's headers in front of MinGW's. So each
# library's header directory is copied into the build tree and only that
# copy is searched.

# Defines the imported target `target` over a copy of /usr/include/<subdir>.
function(tovane_header_only_package target subdir)
  set(source /usr/include/${subdir})
  if(NOT IS_DIRECTORY ${source})
    message(FATAL_ERROR "${source} is missing; scripts/install-deps.sh installs it")
  endif()
  set(include_dir ${CMAKE_BINARY_DIR}/build-machine-include/${subdir})
  file(COPY ${source} DESTINATION ${include_dir})
  if(NOT TARGET ${target})
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${include_dir})
  endif()
endfunction()

# Sets PACKAGE_VERSION and the compatibility answers of a version file from
# the macros `prefix`_MAJOR, _MINOR and _PATCH in the headers named after
# prefix; a newer release of the same major version satisfies a request.
macro(tovane_header_only_version prefix)
  set(_tovane_version_lines "")
  foreach(_tovane_header ${ARGN})
    if(EXISTS ${_tovane_header})
      file(STRINGS ${_tovane_header} _tovane_found REGEX "#define ${prefix}_(MAJOR|MINOR|PATCH) ")
      list(APPEND _tovane_version_lines ${_tovane_found})
    endif()
  endforeach()
  foreach(_tovane_part MAJOR MINOR PATCH)
    string(REGEX MATCH "${prefix}_${_tovane_part} +([0-9]+)" _ "${_tovane_version_lines}")
    set(_tovane_${_tovane_part} ${CMAKE_MATCH_1})
  endforeach()
  set(PACKAGE_VERSION "${_tovane_MAJOR}.${_tovane_MINOR}.${_tovane_PATCH}")
  if(PACKAGE_FIND_VERSION AND (PACKAGE_VERSION VERSION_LESS PACKAGE_FIND_VERSION
                               OR NOT PACKAGE_FIND_VERSION_MAJOR EQUAL _tovane_MAJOR))
    set(PACKAGE_VERSION_COMPATIBLE FALSE)
  else()
    set(PACKAGE_VERSION_COMPATIBLE TRUE)
    if(PACKAGE_FIND_VERSION STREQUAL PACKAGE_VERSION)
      set(PACKAGE_VERSION_EXACT TRUE)
    endif()
  endif()
endmacro()
