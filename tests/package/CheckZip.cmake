# Makes the Windows zip of a build with CPack and checks that it holds what a
# Windows host needs: the DLL, its two import libraries (MinGW's and MSVC's) and
# the .def they come from, the headers, the CMake package, and the command.
# In: BUILD (the build tree), WORK (a scratch directory), TOOLS (whether the command is built).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP --config ${BUILD}/CPackConfig.cmake -B ${WORK}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB zips ${WORK}/quorlin-*-windows-*.zip)
list(LENGTH zips count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made no single zip (${rc}):\n${out}")
endif()
get_filename_component(top ${zips} NAME_WE)
string(REGEX REPLACE "\\.zip$" "" top "${zips}")
get_filename_component(top ${top} NAME)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zips} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
string(REPLACE "\n" ";" entries "${listing}")

set(expected bin/quorlin.dll lib/quorlin.lib lib/libquorlin.dll.a lib/quorlin.def
  include/Quorlin.h include/QuorlinTypes.h include/QuorlinComPtr.h
  include/quorlin/quorlin.h include/quorlin/quorlin.hpp
  lib/cmake/Quorlin/QuorlinConfig.cmake lib/cmake/Quorlin/QuorlinConfigVersion.cmake
  lib/cmake/Quorlin/QuorlinTargets.cmake lib/pkgconfig/quorlin.pc)
if(TOOLS)
  list(APPEND expected bin/quorlin.exe)
endif()
foreach(file IN LISTS expected)
  if(NOT "${top}/${file}" IN_LIST entries)
    message(FATAL_ERROR "${top}.zip lacks ${file}; it holds:\n${listing}")
  endif()
endforeach()
message(STATUS "${top}.zip holds ${expected}")
