# Shared by the checks of the shipped library (CheckDll.cmake, and
# tests/package/CheckSharedLibrary.cmake on Linux).

# The members of CQuorlin that the library must export, as the compiler names
# them (the same with mingw-w64 and on Linux).
set(QUORLIN_REQUIRED_EXPORTS
  _ZN8CQuorlinC1Ev _ZN8CQuorlinC1ERKS_ _ZN8CQuorlinaSERKS_ _ZN8CQuorlinD1Ev
  _ZN8CQuorlin14VssStartBackupEPwS0_Ri _ZN8CQuorlin15VssStartBackup2EPPwS1_i
  _ZN8CQuorlin22VssStartBackupNoWriterEPwS0_Ri _ZN8CQuorlin17VssBackupCompleteEv
  _ZN8CQuorlin10VssSettingEii _ZN8CQuorlin10VssSettingERK16_Quorlin_Setting)

# The C interface: the names under EXPORTS in src/module/quorlin.def.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../src/module/quorlin.def def_lines)
set(QUORLIN_C_EXPORTS "")
set(in_exports OFF)
foreach(line IN LISTS def_lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "EXPORTS")
    set(in_exports ON)
  elseif(in_exports AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)")
    list(APPEND QUORLIN_C_EXPORTS ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT QUORLIN_C_EXPORTS)
  message(FATAL_ERROR "quorlin.def names no exports")
endif()

# The first group of `pattern` in each line of `text` that matches it.
function(matching_lines out text pattern)
  string(REPLACE "\n" ";" lines "${text}")
  set(found "")
  foreach(line IN LISTS lines)
    if(line MATCHES "${pattern}")
      list(APPEND found "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# Fails unless `names` (the exported names of `library`) hold every required
# member of CQuorlin and every C function of quorlin.def, and nothing else.
function(check_exports library names)
  foreach(symbol IN LISTS QUORLIN_REQUIRED_EXPORTS QUORLIN_C_EXPORTS)
    if(NOT symbol IN_LIST names)
      message(FATAL_ERROR "${library} does not export ${symbol}")
    endif()
  endforeach()
  set(members 0)
  foreach(name IN LISTS names)
    if(name MATCHES "8CQuorlin")
      math(EXPR members "${members} + 1")
    elseif(NOT name IN_LIST QUORLIN_C_EXPORTS)
      message(FATAL_ERROR "${library} exports more than CQuorlin and the C interface: ${name}")
    endif()
  endforeach()
  list(LENGTH QUORLIN_C_EXPORTS functions)
  message(STATUS "${library} exports ${members} CQuorlin symbols and ${functions} C functions")
endfunction()
