# The seam to the host's declarations, proven: the module is built with the
# host-headers preset against a stand-in for the host's published headers (the
# scrambled declaration of the host, every layout choice of host/ made
# otherwise, under other file names, outside the source tree); no compile
# command of that build may name host/, and the module it makes, driven by the
# substitute host built against the same declaration, must make the same host
# calls as the regular module in the regular host.
#
#   SOURCE_DIR  the repository       WORK_DIR  scratch folder in the build tree
#   PYTHON      python3              DECLARATION  the scrambled build's declaration of the host
#   HOST, MODULE    the regular tovane-host and module
#   SCRAMBLED_HOST  tovane-host built against DECLARATION
#   GENERATOR, CXX, LAUNCHER  as the calling build's

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT code EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}\nfailed (${code}):\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(standin ${WORK_DIR}/host-standin)
set(build ${WORK_DIR}/module)
run(${PYTHON} ${SOURCE_DIR}/tests/seam/make_host_standin.py --declaration ${DECLARATION} --out ${standin})

set(configure ${CMAKE_COMMAND} --preset host-headers -B ${build} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX}
    -DTOVANE_HOST_HEADERS=${standin}/include -DTOVANE_HOST_UMBRELLA=${standin}/tovane_host_umbrella.h)
if(LAUNCHER)
  list(APPEND configure -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
run(${configure})
run(${CMAKE_COMMAND} --build ${build})

# No compile command may reach host/, by include path or by file.
file(READ ${build}/compile_commands.json commands)
string(JSON count LENGTH "${commands}")
if(count EQUAL 0)
  message(FATAL_ERROR "the stand-in build compiled nothing")
endif()
string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" source_pattern "${SOURCE_DIR}")
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON file GET "${commands}" ${index} file)
  string(JSON command GET "${commands}" ${index} command)
  if("${file} ${command}" MATCHES "${source_pattern}/host([/\" ]|$)")
    message(FATAL_ERROR "a compile command of the stand-in build names host/:\n${command}")
  endif()
endforeach()
file(GLOB_RECURSE standin_module LIST_DIRECTORIES false
     ${build}/TovaneParvolith/TovaneParvolith.so ${build}/TovaneParvolith/TovaneParvolith.dylib)
if(NOT standin_module)
  message(FATAL_ERROR "the stand-in build left no module in ${build}/TovaneParvolith")
endif()

# The same calls, in the same order, with the same arguments and results.
run(${PYTHON} ${SOURCE_DIR}/tests/seam/compare_runs.py --work ${WORK_DIR}/runs
    --expected ${HOST} ${MODULE} --actual ${SCRAMBLED_HOST} ${standin_module})
message(STATUS "the stand-in module built without host/ and ran call for call as the regular module")
