# Makes (ACTION=setup) or removes (ACTION=cleanup) the Wine prefix of a test run.
#   PREFIX      the prefix, in the build tree
#   WINE        wine64; WINESERVER its wineserver
#   STAND_IN    the stand-in vssapi.dll, put into the prefix's system32
cmake_minimum_required(VERSION 3.25)

set(ENV{WINEPREFIX} ${PREFIX})
set(ENV{WINEDEBUG} -all)

if(ACTION STREQUAL "setup")
  # A left-over of an interrupted run goes first: every run starts from a new prefix.
  file(REMOVE_RECURSE ${PREFIX})
  # No Mono or Gecko: no test needs them, and without them nothing is downloaded or asked.
  set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
  execute_process(COMMAND ${WINE} wineboot --init
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR NOT EXISTS ${PREFIX}/drive_c/windows/system32)
    message(FATAL_ERROR "wineboot could not make ${PREFIX} (${result}):\n${output}")
  endif()
  file(COPY_FILE ${STAND_IN} ${PREFIX}/drive_c/windows/system32/vssapi.dll)
  # A second volume, for snapshot sets of two volumes.
  file(MAKE_DIRECTORY ${PREFIX}/drive_d)
  file(CREATE_LINK ../drive_d ${PREFIX}/dosdevices/d: SYMBOLIC)
  message(STATUS "made ${PREFIX} with the stand-in vssapi.dll and a volume D:")
elseif(ACTION STREQUAL "cleanup")
  # The prefix's server writes the registry when it ends: let it end first.
  execute_process(COMMAND ${WINESERVER} -w)
  file(REMOVE_RECURSE ${PREFIX})
  message(STATUS "removed ${PREFIX}")
else()
  message(FATAL_ERROR "ACTION must be setup or cleanup")
endif()
