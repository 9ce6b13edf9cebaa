# Checks a built libquorlin.so: it carries the expected SONAME, exports CQuorlin's
# members under the symbol version QUORLIN_1.0 and the C functions of quorlin.def
# under QUORLIN_1.1, and defines no other dynamic symbol.
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

execute_process(COMMAND ${NM} -D --defined-only --with-symbol-versions ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
# Each line is "<address> <type> <name>@@<version>"; the versions themselves are
# absolute symbols ("A") of their own.
matching_lines(versioned "${symbols}" "^[0-9a-fA-F]+ [B-Zb-z] (.+)$")
set(names "")
foreach(entry IN LISTS versioned)
  if(NOT entry MATCHES "^([^@]+)@@(QUORLIN_[0-9.]+)$")
    message(FATAL_ERROR "${SONAME} exports ${entry} without a default symbol version")
  endif()
  set(name ${CMAKE_MATCH_1})
  set(version ${CMAKE_MATCH_2})
  if(name IN_LIST QUORLIN_C_EXPORTS)
    set(expected QUORLIN_1.1)
  else()
    set(expected QUORLIN_1.0)
  endif()
  if(NOT version STREQUAL expected)
    message(FATAL_ERROR "${SONAME} exports ${name} as ${version}, expected ${expected}")
  endif()
  list(APPEND names ${name})
endforeach()
check_exports(${SONAME} "${names}")
