# Checks a built quorlin.dll: CQuorlin's members are exported, nothing else is,
# every imported DLL is a Windows system DLL, and VSS is reached through its two
# entry points.

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

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

# The names follow the "[Ordinal/Name Pointer] Table" heading, one a line, up to a blank line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start LESS 0)
  message(FATAL_ERROR "quorlin.dll has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 exports)
string(FIND "${exports}" "\n\n" end)
string(SUBSTRING "${exports}" 0 ${end} exports)
matching_lines(names "${exports}" "^\t\\[ *[0-9]+\\] (.+)$")
set(required
  _ZN8CQuorlinC1Ev _ZN8CQuorlinC1ERKS_ _ZN8CQuorlinaSERKS_ _ZN8CQuorlinD1Ev
  _ZN8CQuorlin14VssStartBackupEPwS0_Ri _ZN8CQuorlin15VssStartBackup2EPPwS1_i
  _ZN8CQuorlin22VssStartBackupNoWriterEPwS0_Ri _ZN8CQuorlin17VssBackupCompleteEv
  _ZN8CQuorlin10VssSettingEii _ZN8CQuorlin10VssSettingERK16_Quorlin_Setting)
foreach(symbol IN LISTS required)
  if(NOT exports MATCHES "${symbol}")
    message(FATAL_ERROR "quorlin.dll does not export ${symbol}")
  endif()
endforeach()
foreach(name IN LISTS names)
  if(NOT name MATCHES "8CQuorlin")
    message(FATAL_ERROR "quorlin.dll exports more than CQuorlin: ${name}")
  endif()
endforeach()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(allowed "^(KERNEL32|ADVAPI32|USER32|OLE32|OLEAUT32|VSSAPI|MSVCRT|API-MS-WIN-[A-Z0-9-]+)\\.DLL$")
foreach(entry IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" name "${entry}")
  string(TOUPPER "${name}" upper)
  if(NOT upper MATCHES "${allowed}")
    message(FATAL_ERROR "quorlin.dll imports a non-system DLL: ${name}")
  endif()
  message(STATUS "imports ${name}")
endforeach()
# The requester reaches VSS through exactly these two entry points of vssapi.dll,
# both present in every vssapi.dll since Vista.
string(REGEX MATCH "DLL Name: VSSAPI\\.DLL\n[^\n]*\n(\t[^\n]+\n)*" vssapi "${dump}")
# Each entry is "<vma>\t<hint>  <name>".
matching_lines(vssapiNames "${vssapi}" "^\t[0-9a-fA-F]+\t +[0-9]+ +([^ ]+)$")
list(SORT vssapiNames)
if(NOT vssapiNames STREQUAL "CreateVssBackupComponentsInternal;VssFreeSnapshotPropertiesInternal")
  message(FATAL_ERROR "quorlin.dll imports from VSSAPI.DLL: '${vssapiNames}'")
endif()

list(LENGTH names count)
message(STATUS "quorlin.dll exports ${count} CQuorlin symbols")
