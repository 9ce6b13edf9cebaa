# Runs quorlin once and checks its exit code and what it printed.
#   PROGRAM, EMULATOR (may be empty), ARGUMENTS (separated by |), EXPECTED_EXIT,
#   EXPECTED_OUTPUT (a regular expression over standard error after standard output)
string(REPLACE "|" ";" arguments "${ARGUMENTS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${arguments}
  RESULT_VARIABLE exit_code OUTPUT_VARIABLE output ERROR_VARIABLE errors)
string(REPLACE "\r" "" printed "${output}${errors}")
message(STATUS "quorlin ${arguments} exited with ${exit_code}:\n${printed}")
if(NOT exit_code STREQUAL "${EXPECTED_EXIT}")
  message(FATAL_ERROR "expected exit code ${EXPECTED_EXIT}, got ${exit_code}")
endif()
if(NOT printed MATCHES "${EXPECTED_OUTPUT}")
  message(FATAL_ERROR "the output does not match: ${EXPECTED_OUTPUT}")
endif()
