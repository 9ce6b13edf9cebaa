# run(<what> <command> [<argument>...]): runs a command of a check (in RUN_DIRECTORY
# when that is set) and fails the check, with the command's output, when it fails.
function(run what)
  if(RUN_DIRECTORY)
    set(directory WORKING_DIRECTORY ${RUN_DIRECTORY})
  endif()
  execute_process(COMMAND ${ARGN} ${directory} RESULT_VARIABLE rc OUTPUT_VARIABLE out
    ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
endfunction()
