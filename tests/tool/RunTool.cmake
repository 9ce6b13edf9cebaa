# Runs quorlin once per case and checks each exit code and what it printed; fails
# naming every case that did not hold. Its summary reads as a GoogleTest program's, so
# that scripts/test counts its cases.
#   PROGRAM, EMULATOR (may be empty), CASES: a file of
#   quorlin_case(NAME EXPECTED_EXIT EXPECTED_OUTPUT ARGUMENTS) lines, where
#   EXPECTED_OUTPUT is a regular expression over standard error after standard output
#   and ARGUMENTS are separated by |.
set(failed "")
set(count 0)
function(quorlin_case name expected_exit expected_output arguments)
  string(REPLACE "|" ";" arguments "${arguments}")
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${arguments}
    RESULT_VARIABLE exit_code OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  string(REPLACE "\r" "" printed "${output}${errors}")
  message(STATUS "${name}: quorlin ${arguments} exited with ${exit_code}:\n${printed}")
  set(problem "")
  if(NOT exit_code STREQUAL "${expected_exit}")
    set(problem "expected exit code ${expected_exit}, got ${exit_code}")
  elseif(NOT printed MATCHES "${expected_output}")
    set(problem "the output does not match: ${expected_output}")
  endif()
  math(EXPR counted "${count} + 1")
  set(count ${counted} PARENT_SCOPE)
  if(problem)
    message(STATUS "FAILED ${name}: ${problem}")
    message("[  FAILED  ] ${name} (0 ms)")
    set(failed ${failed} ${name} PARENT_SCOPE)
  endif()
endfunction()
include(${CASES})
list(LENGTH failed failures)
math(EXPR passed "${count} - ${failures}")
message("[==========] ${count} tests ran.")
message("[  PASSED  ] ${passed} tests.")
if(failed)
  message(FATAL_ERROR "cases failed: ${failed} (of ${count})")
endif()
message(STATUS "all ${count} cases passed")
