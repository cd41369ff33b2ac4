# The macOS bundle as the host's loader sees it: a generated property-list
# resource always, and the cross-built bundle in TOVANE_MACOS_BUILD_DIR when
# the build names one (scripts/build.sh does).

set(TOVANE_MACOS_BUILD_DIR "" CACHE PATH "Cross-build directory that holds TovaneParvolith.plugin")
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(TOVANE_LLVM_OBJDUMP NAMES llvm-objdump llvm-objdump-14 REQUIRED)
find_program(TOVANE_LLVM_NM NAMES llvm-nm llvm-nm-14 REQUIRED)

add_test(NAME macos_bundle COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/macos_bundle_test.py)
# With the scrambled build named as well (TOVANE_SCRAMBLED_BUILD_DIR, see
# seam/), the export list is also tried on its module's other spellings.
set(_tovane_scrambled_module "")
if(TOVANE_SCRAMBLED_BUILD_DIR)
  set(_tovane_scrambled_module ${TOVANE_SCRAMBLED_BUILD_DIR}/TovaneParvolith/TovaneParvolith${CMAKE_SHARED_MODULE_SUFFIX})
endif()
set_tests_properties(macos_bundle PROPERTIES ENVIRONMENT
  "TOVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR};TOVANE_MACOS_BUILD_DIR=${TOVANE_MACOS_BUILD_DIR};TOVANE_SCRAMBLED_MODULE=${_tovane_scrambled_module};LLVM_OBJDUMP=${TOVANE_LLVM_OBJDUMP};LLVM_NM=${TOVANE_LLVM_NM}")
