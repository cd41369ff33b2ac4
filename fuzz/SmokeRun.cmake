# The fuzz smoke run (test fuzz_smoke): runs FUZZER for RUNS executions from
# the seed corpus in CORPUS. New inputs it finds go to SCRATCH, emptied
# before and removed after, never into the repository; a finding's input goes
# to FINDINGS and fails the run.

foreach(variable FUZZER RUNS CORPUS FINDINGS SCRATCH)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "SmokeRun.cmake needs -D${variable}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}" "${FINDINGS}")
execute_process(
  COMMAND "${FUZZER}" -runs=${RUNS} -seed=1 -max_total_time=110 -print_final_stats=1
          -artifact_prefix=${FINDINGS} "${SCRATCH}" "${CORPUS}"
  RESULT_VARIABLE result)
file(REMOVE_RECURSE "${SCRATCH}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzzer stopped with ${result}; its input, if it found one, is in ${FINDINGS}")
endif()
