# Turns the effect module target into the macOS bundle the host loads:
#
#   TovaneParvolith.plugin/Contents/Info.plist
#   TovaneParvolith.plugin/Contents/PkgInfo
#   TovaneParvolith.plugin/Contents/MacOS/TovaneParvolith
#   TovaneParvolith.plugin/Contents/Resources/TovaneParvolith.rsrc
#
# The same steps serve a build on a Mac and the cross-link on Linux
# (cmake/macos-x86_64-cross.cmake). The bundle lands at the top of the build
# directory.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(_tovane_mac_dir ${CMAKE_CURRENT_LIST_DIR})
set(_tovane_mac_out ${CMAKE_CURRENT_BINARY_DIR}/Mac)
file(MAKE_DIRECTORY ${_tovane_mac_out})

# Package type and creator of the host's effect bundles, as the Finder reads
# them without opening Info.plist.
set(_tovane_pkginfo ${_tovane_mac_out}/PkgInfo)
file(CONFIGURE OUTPUT ${_tovane_pkginfo} CONTENT "eFKTFXTC")

# The property list, from the same source as the Windows module's, with the
# macOS entry-point property, as resource 'PiPL' 16000 of a classic resource
# file.
set(_tovane_pipl ${_tovane_mac_out}/TovaneParvolith_mac.pipl)
set(_tovane_rsrc ${_tovane_mac_out}/TovaneParvolith.rsrc)
add_custom_command(
  OUTPUT ${_tovane_rsrc}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/TovaneParvolith/pipl_gen.py --platform mac --out ${_tovane_pipl}
  COMMAND ${Python3_EXECUTABLE} ${_tovane_mac_dir}/make_rsrc.py --pipl ${_tovane_pipl} --out ${_tovane_rsrc}
  DEPENDS
    ${PROJECT_SOURCE_DIR}/TovaneParvolith/pipl_gen.py
    ${PROJECT_SOURCE_DIR}/TovaneParvolith/TovaneParvolith_PiPL.txt
    ${_tovane_mac_dir}/make_rsrc.py
  BYPRODUCTS ${_tovane_pipl}
  COMMENT "Property list resource TovaneParvolith.rsrc"
  VERBATIM)

target_sources(TovaneParvolith PRIVATE ${_tovane_pkginfo} ${_tovane_rsrc})
set_source_files_properties(${_tovane_pkginfo} PROPERTIES MACOSX_PACKAGE_LOCATION .)
set_source_files_properties(${_tovane_rsrc} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)

set_target_properties(TovaneParvolith PROPERTIES
  BUNDLE TRUE
  BUNDLE_EXTENSION plugin
  OSX_ARCHITECTURES x86_64
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  MACOSX_BUNDLE_INFO_PLIST ${_tovane_mac_dir}/Info.plist.in
  MACOSX_BUNDLE_BUNDLE_NAME TovaneParvolith
  MACOSX_BUNDLE_GUI_IDENTIFIER com.tovane.TovaneParvolith
  MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
  MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
  LINK_DEPENDS ${_tovane_mac_dir}/exports.txt)

# EntryPointFunc and the global functions of Util/ are the bundle's exports;
# the effect's handlers and everything else stay inside. A member function
# whose mangled name would spell a host type (the basic suite's struct, the
# integer behind A_long) is listed with a wildcard for its parameters, so a
# host header that spells those types otherwise exports the same functions.
target_link_options(TovaneParvolith PRIVATE "LINKER:-exported_symbols_list,${_tovane_mac_dir}/exports.txt")
