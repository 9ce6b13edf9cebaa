# Builds msvc_host.c as an MSVC host does: clang-cl for the MSVC ABI, lld-link, the
# import library quorlin.lib, and import libraries for kernel32 and ole32 made from
# small .def files (there is no C runtime and no Windows SDK here). Checks that the
# program imports kernel32, ole32 and quorlin.dll only, and from quorlin.dll every C
# function by the name the DLL exports; with EMULATOR, runs it beside quorlin.dll
# with EXPECTATION in the Wine prefix of the test run (WINEPREFIX and the rest of the
# environment come from quorlin_wine_test or quorlin_wine_vss_test) and requires every
# check to pass; with vss-working, also what the stand-in VSS logged.
# In: CLANG_CL, LLD_LINK, DLLTOOL, OBJDUMP, SOURCE, INCLUDE, IMPORT_LIBRARY, DLL,
# TARGET, MACHINE (llvm-dlltool's), WORK; optional EMULATOR, EXPECTATION.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/LibraryChecks.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../Run.cmake)
set(RUN_DIRECTORY ${WORK})

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# The system calls the host makes, with their argument bytes: 32-bit Windows names
# its __stdcall functions name@bytes, and --kill-at imports them by the plain name.
set(kernel32 GetStdHandle@4 WriteFile@20 ReadFile@20 PeekNamedPipe@24 CreatePipe@16
  CloseHandle@4 CreateFileW@28 CreateDirectoryW@8 MultiByteToWideChar@24 GetCommandLineA@0
  ExitProcess@4)
set(ole32 CoInitializeEx@8 CoUninitialize@0)
foreach(dll kernel32 ole32)
  set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
  foreach(entry IN LISTS ${dll})
    if(NOT MACHINE STREQUAL "i386")
      string(REGEX REPLACE "@[0-9]+$" "" entry ${entry})
    endif()
    string(APPEND def "  ${entry}\n")
  endforeach()
  file(WRITE ${WORK}/${dll}.def "${def}")
  run("making ${dll}.lib" ${DLLTOOL} -m ${MACHINE} -k -d ${dll}.def -l ${dll}.lib)
endforeach()

# Both tools read an argument that starts with "/" as an option: files are given by
# names relative to WORK, or after "--".
file(COPY ${IMPORT_LIBRARY} DESTINATION ${WORK})
run("clang-cl" ${CLANG_CL} --target=${TARGET} /nologo /c /GS- /Od /Zl /W4 /WX /I${INCLUDE}
  /Fomsvc_host.obj -- ${SOURCE})
run("lld-link" ${LLD_LINK} /nologo /subsystem:console /entry:mainCRTStartup /nodefaultlib
  /out:msvc_host.exe msvc_host.obj quorlin.lib kernel32.lib ole32.lib)

execute_process(COMMAND ${OBJDUMP} -p ${WORK}/msvc_host.exe OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
string(TOLOWER "${imports}" imports)
list(TRANSFORM imports REPLACE "^dll name: " "")
list(SORT imports)
if(NOT rc EQUAL 0 OR NOT imports STREQUAL "kernel32.dll;ole32.dll;quorlin.dll")
  message(FATAL_ERROR "msvc_host.exe should import quorlin.dll, kernel32.dll and ole32.dll only: ${imports}")
endif()
message(STATUS "msvc_host.exe (${TARGET}) links against quorlin.lib and imports ${imports}")

# It imports every C function, each by the name the DLL exports: quorlin.lib names
# them as the DLL does (on i686 without the underscore of C names).
function(names_after out text heading)
  string(FIND "${text}" "${heading}" start)
  string(SUBSTRING "${text}" ${start} -1 text)
  string(FIND "${text}" "\n\n" end)
  string(SUBSTRING "${text}" 0 ${end} text)
  string(REGEX MATCHALL "[\t ](quorlin_[a-z_]+)" names "${text}")
  list(TRANSFORM names STRIP)
  set(${out} ${names} PARENT_SCOPE)
endfunction()
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE exports)
names_after(imported "${dump}" "DLL Name: quorlin.dll")
names_after(exported "${exports}" "[Ordinal/Name Pointer] Table")
foreach(name IN LISTS imported)
  if(NOT name IN_LIST exported)
    message(FATAL_ERROR "msvc_host.exe imports ${name}, which quorlin.dll does not export")
  endif()
endforeach()
foreach(name IN LISTS QUORLIN_C_EXPORTS)
  if(NOT name IN_LIST imported)
    message(FATAL_ERROR "msvc_host.exe does not call ${name}")
  endif()
endforeach()
list(LENGTH imported count)
message(STATUS "it calls all ${count} C functions, and quorlin.dll exports each by that name")

if(NOT EMULATOR)
  return()
endif()
if(NOT DEFINED ENV{WINEPREFIX})
  message(FATAL_ERROR "the host runs in the Wine prefix of the test run (WINEPREFIX)")
endif()
file(COPY ${DLL} DESTINATION ${WORK})
set(log ${WORK}/vss.log)
file(REMOVE ${log})
if(EXPECTATION STREQUAL "vss-working")
  # The stand-in (quorlin_wine_vss_test) freezes the host's folders and logs its calls.
  string(REPLACE "/" "\\" windows_log "Z:${log}")
  set(ENV{QUORLIN_VSS_LOG} "${windows_log}")
  set(ENV{QUORLIN_VSS_FROZEN} "C:\\quorlin-msvc-host;D:\\quorlin-msvc-host")
endif()
execute_process(COMMAND ${EMULATOR} ${WORK}/msvc_host.exe ${EXPECTATION} WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "msvc_host.exe ${EXPECTATION} failed (${rc}):\n${err}")
endif()
if(NOT EXPECTATION STREQUAL "vss-working")
  return()
endif()

# What the stand-in saw (its log, see tests/win32/stand-in-vss/README.md): every call
# answered S_OK (the host's one failure is a drive that is not there); every
# components object, operation and properties record handed out was given back;
# every snapshot made was deleted by DeleteSnapshots, none went with its components
# object, and the store holds none.
file(READ ${log} text)
string(PREPEND text "\n")
function(count out pattern)
  string(REGEX MATCHALL "${pattern}" found "${text}")
  list(LENGTH found n)
  set(${out} ${n} PARENT_SCOPE)
endfunction()
set(wrong "")
string(REGEX MATCHALL "\n[^\n]* -> 0x[0-9a-f]*[1-9a-f][^\n]*" failed "${text}")
if(failed)
  string(APPEND wrong "calls that failed:${failed}\n")
endif()
foreach(pair "CreateVssBackupComponents -> 0x00000000|Release -> 0"
             "[A-Za-z]+ -> 0x00000000 status |[A-Za-z]+[.]Release -> 0"
             "GetSnapshotProperties [^\n]* -> 0x00000000|VssFreeSnapshotProperties ")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 given)
  list(GET pair 1 returned)
  count(out "\n${given}")
  count(back "\n${returned}")
  if(out EQUAL 0 OR NOT out EQUAL back)
    string(APPEND wrong "${out} times \"${given}\", ${back} times \"${returned}\"\n")
  endif()
endforeach()
count(added "\nAddToSnapshotSet [^\n]* -> 0x00000000")
string(REGEX MATCHALL "\nDeleteSnapshots [^\n]* -> 0x00000000 deleted [0-9]+" deletions "${text}")
set(deleted 0)
foreach(deletion IN LISTS deletions)
  string(REGEX REPLACE ".* " "" n "${deletion}")
  math(EXPR deleted "${deleted} + ${n}")
endforeach()
if(NOT added EQUAL deleted)
  string(APPEND wrong "${added} snapshots made, ${deleted} deleted by DeleteSnapshots\n")
endif()
count(released "\n[*] released ")
if(NOT released EQUAL 0)
  string(APPEND wrong "${released} snapshots went with their components object\n")
endif()
string(REGEX REPLACE "^C:\\\\" "$ENV{WINEPREFIX}/drive_c/" store "$ENV{QUORLIN_VSS_STORE}")
string(REPLACE "\\" "/" store "${store}")
file(GLOB left ${store}/*)
if(NOT IS_DIRECTORY ${store})
  string(APPEND wrong "no store at ${store}\n")
elseif(left)
  string(APPEND wrong "left in the store: ${left}\n")
endif()
if(wrong)
  message(FATAL_ERROR "the stand-in VSS saw what it should not (${log}):\n${wrong}")
endif()
count(sets "\nDoSnapshotSet -> 0x00000000 ")
message(STATUS "the stand-in made ${added} snapshots in ${sets} sets, DeleteSnapshots deleted "
  "them all, and all it handed out came back")
