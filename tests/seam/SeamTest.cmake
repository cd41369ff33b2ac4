# The seam to the host's declarations, proven: the module is built with the
# host-headers preset against a stand-in for the host's published headers (the
# declarations of host/ under other file names, outside the source tree); no
# compile command of that build may name host/, and the module it makes must
# drive the substitute host call for call as the regular module does.
#
#   SOURCE_DIR  the repository       WORK_DIR  scratch folder in the build tree
#   PYTHON      python3              HOST      tovane-host
#   MODULE      the regular module   GENERATOR, CXX, LAUNCHER  as the calling build's

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
run(${PYTHON} ${SOURCE_DIR}/tests/seam/make_host_standin.py --source-dir ${SOURCE_DIR} --out ${standin})

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
function(expect_same_run name)
  foreach(kind regular standin)
    set(module ${MODULE})
    if(kind STREQUAL "standin")
      set(module ${standin_module})
    endif()
    run(${HOST} ${ARGN} --module ${module} --trace ${WORK_DIR}/${name}.${kind}.jsonl)
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                  ${WORK_DIR}/${name}.regular.jsonl ${WORK_DIR}/${name}.standin.jsonl RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${name}: the stand-in module's trace differs from the regular module's; compare "
                        "${WORK_DIR}/${name}.regular.jsonl and ${WORK_DIR}/${name}.standin.jsonl")
  endif()
endfunction()

expect_same_run(lifecycle lifecycle)
foreach(mode "Center" "Whole" "No Margin" "Fit to Layer")
  string(REPLACE " " "_" name "${mode}")
  file(WRITE ${WORK_DIR}/${name}.json "{
  \"composition\": {\"width\": 64, \"height\": 36, \"frame_rate\": 30},
  \"layers\": [
    {\"id\": 1, \"name\": \"Target\", \"width\": 64, \"height\": 36, \"duration\": 4, \"source\": {\"type\": \"checker\", \"cell\": 8}},
    {\"id\": 2, \"name\": \"Card\", \"width\": 20, \"height\": 30, \"start\": 1, \"in_point\": 1, \"duration\": 2,
     \"source\": {\"type\": \"frame_card\"}}
  ],
  \"effect\": {\"on_layer\": 1, \"mode\": \"${mode}\", \"layer\": 2, \"time_type\": \"Percent\", \"time_percent\": 50},
  \"render\": {\"times\": [{\"value\": 45, \"scale\": 30}], \"depth\": 8}
}
")
  expect_same_run(${name} render ${WORK_DIR}/${name}.json --out ${WORK_DIR}/${name})
endforeach()
message(STATUS "the stand-in module built without host/ and ran call for call as the regular module")
