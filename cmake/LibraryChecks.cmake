# Shared by the checks of the shipped library (CheckDll.cmake, and
# tests/package/CheckSharedLibrary.cmake on Linux).

# The members of CQuorlin that the library must export, as the compiler names
# them (the same with mingw-w64 and on Linux).
set(QUORLIN_REQUIRED_EXPORTS
  _ZN8CQuorlinC1Ev _ZN8CQuorlinC1ERKS_ _ZN8CQuorlinaSERKS_ _ZN8CQuorlinD1Ev
  _ZN8CQuorlin14VssStartBackupEPwS0_Ri _ZN8CQuorlin15VssStartBackup2EPPwS1_i
  _ZN8CQuorlin22VssStartBackupNoWriterEPwS0_Ri _ZN8CQuorlin17VssBackupCompleteEv
  _ZN8CQuorlin10VssSettingEii _ZN8CQuorlin10VssSettingERK16_Quorlin_Setting)

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
# export and nothing that is not a member of CQuorlin.
function(check_exports library names)
  foreach(symbol IN LISTS QUORLIN_REQUIRED_EXPORTS)
    if(NOT symbol IN_LIST names)
      message(FATAL_ERROR "${library} does not export ${symbol}")
    endif()
  endforeach()
  foreach(name IN LISTS names)
    if(NOT name MATCHES "8CQuorlin")
      message(FATAL_ERROR "${library} exports more than CQuorlin: ${name}")
    endif()
  endforeach()
  list(LENGTH names count)
  message(STATUS "${library} exports ${count} CQuorlin symbols")
endfunction()
