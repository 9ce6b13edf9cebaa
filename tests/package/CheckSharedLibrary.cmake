# Checks a built libquorlin.so: it carries the expected SONAME, exports CQuorlin's
# members, and defines no other dynamic symbol.
# In: NM, OBJDUMP, LIBRARY, SONAME.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/LibraryChecks.cmake)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
if(NOT headers MATCHES "\n +SONAME +([^\n]+)\n")
  message(FATAL_ERROR "${LIBRARY} has no SONAME")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL SONAME)
  message(FATAL_ERROR "${LIBRARY} has SONAME ${CMAKE_MATCH_1}, expected ${SONAME}")
endif()

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
# Each line is "<address> <type> <name>".
matching_lines(names "${symbols}" "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
check_exports(${SONAME} "${names}")
