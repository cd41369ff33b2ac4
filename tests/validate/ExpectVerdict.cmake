# Runs `tovane-host validate` on one module and checks the verdict.
#   HOST           the command (a list: "wine;tovane-host.exe" under Wine)
#   MODULE         the module to validate
#   EXPECT         pass or fail
#   ARGS           further arguments (a list)
#   FAILED_CHECKS  check ids that must be reported as failed (EXPECT=fail)
#   ONLY_THOSE     set: no other check may fail (EXPECT=fail)
#   DETAIL         text that must appear among the failures (EXPECT=fail)
#   PROPERTY_LIST  "compared": the property-list check must have run, not been skipped

execute_process(COMMAND ${HOST} validate --module ${MODULE} ${ARGS}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")

if(EXPECT STREQUAL "pass")
  if(NOT code EQUAL 0 OR NOT out MATCHES "VERDICT: PASS")
    message(FATAL_ERROR "validate should pass on ${MODULE} but exited with ${code}")
  endif()
  if(PROPERTY_LIST STREQUAL "compared" AND NOT out MATCHES "PASS  property-list-agrees")
    message(FATAL_ERROR "the property list of ${MODULE} was not compared")
  endif()
  return()
endif()

# A broken module must make validate exit 1 (not crash), with a verdict
# that names each expected check, and say what was left behind.
if(NOT code EQUAL 1)
  message(FATAL_ERROR "validate should exit with 1 on ${MODULE} but exited with ${code}")
endif()
foreach(check IN LISTS FAILED_CHECKS)
  if(NOT out MATCHES "FAIL  ${check}" OR NOT out MATCHES "VERDICT: FAIL \\([^)]*${check}")
    message(FATAL_ERROR "validate did not name the failed check ${check}")
  endif()
endforeach()
if(ONLY_THOSE)
  list(JOIN FAILED_CHECKS ", " named)
  if(NOT out MATCHES "VERDICT: FAIL \\(${named}\\)")
    message(FATAL_ERROR "validate failed other checks than ${named}")
  endif()
endif()
if(DETAIL)
  string(FIND "${out}" "${DETAIL}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the failures do not say \"${DETAIL}\"")
  endif()
endif()
