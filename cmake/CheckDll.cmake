# Checks a built quorlin.dll: CQuorlin's members and the C functions of quorlin.def
# are exported, nothing else is, every imported DLL is a Windows system DLL, and VSS
# is reached through its two entry points.

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/LibraryChecks.cmake)

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
check_exports(quorlin.dll "${names}")

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(allowed "^(KERNEL32|ADVAPI32|USER32|OLE32|OLEAUT32|MSVCRT|API-MS-WIN-[A-Z0-9-]+)\\.DLL$")
foreach(entry IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" name "${entry}")
  string(TOUPPER "${name}" upper)
  if(NOT upper MATCHES "${allowed}")
    message(FATAL_ERROR "quorlin.dll imports a non-system DLL: ${name}")
  endif()
  message(STATUS "imports ${name}")
endforeach()
# vssapi.dll is loaded when a start call first needs it, never imported, so that
# the library loads even where VSS lacks the entry points it uses.
string(TOUPPER "${imports}" importsUpper)
if(importsUpper MATCHES "VSSAPI")
  message(FATAL_ERROR "quorlin.dll imports vssapi.dll; it must load it when needed")
endif()
