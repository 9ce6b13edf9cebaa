# Configures Quorlin for 64-bit Windows as a packager or an embedding project does: with
# a toolchain file of its own that names no emulator (no Wine), first with
# -DBUILD_TESTING=OFF (configure, list no test), then the same tree with
# -DBUILD_TESTING=ON (configure, say once that the Windows tests need Wine, list every
# Wine test disabled). It builds nothing: the windows-i686 leg is a build without an
# emulator from start to end, and the windows-x64 leg builds everything with this
# compiler.
# In: SOURCE, WORK.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
# The windows-x64 preset's toolchain less its emulator, as a packager's would be.
file(WRITE ${WORK}/toolchain.cmake "include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)\n"
  "unset(CMAKE_CROSSCOMPILING_EMULATOR)\n")
set(build ${WORK}/build)
set(wine_line "The Windows tests need Wine")

# configure(<BUILD_TESTING> <out: what cmake printed>)
function(configure testing out)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${build}
      -DCMAKE_TOOLCHAIN_FILE=${WORK}/toolchain.cmake -DCMAKE_BUILD_TYPE=Release
      -DBUILD_TESTING=${testing} -DQUORLIN_WERROR=ON
    RESULT_VARIABLE rc OUTPUT_VARIABLE printed ERROR_VARIABLE printed)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring with BUILD_TESTING=${testing} failed (${rc}):\n${printed}")
  endif()
  set(${out} "${printed}" PARENT_SCOPE)
endfunction()

# The tests ctest lists in the build, as "name|state" (state: enabled or disabled).
function(listed_tests out)
  execute_process(COMMAND ${CMAKE_CTEST_COMMAND} -N WORKING_DIRECTORY ${build}
    RESULT_VARIABLE rc OUTPUT_VARIABLE printed ERROR_VARIABLE ignored)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ctest -N failed (${rc}):\n${printed}")
  endif()
  string(REGEX MATCHALL "Test +#[0-9]+: [^\n]+" lines "${printed}")
  set(tests "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^Test +#[0-9]+: " "" line "${line}")
    if(line MATCHES "^([^ ]+) \\(Disabled\\)$")
      list(APPEND tests "${CMAKE_MATCH_1}|disabled")
    else()
      list(APPEND tests "${line}|enabled")
    endif()
  endforeach()
  set(${out} "${tests}" PARENT_SCOPE)
endfunction()

configure(OFF printed)
listed_tests(tests)
if(tests)
  message(FATAL_ERROR "BUILD_TESTING=OFF still lists tests: ${tests}")
endif()
if(printed MATCHES "GoogleTest|${wine_line}")
  message(FATAL_ERROR "BUILD_TESTING=OFF still looks at the tests:\n${printed}")
endif()
configure(ON printed)
# A semicolon in a line would split it into two list items.
string(REPLACE ";" "," printed "${printed}")
string(REGEX MATCHALL "${wine_line}[^\n]*" said "${printed}")
list(LENGTH said times)
if(NOT times EQUAL 1)
  message(FATAL_ERROR "expected one line \"${wine_line}...\", got ${times}:\n${printed}")
endif()
listed_tests(tests)
set(wine_tests 0)
foreach(test IN LISTS tests)
  if(test MATCHES "^(quorlin_[a-z0-9_]+_tests)\\|(.*)$")
    if(NOT CMAKE_MATCH_2 STREQUAL "disabled")
      message(FATAL_ERROR "${CMAKE_MATCH_1} would run without Wine")
    endif()
    math(EXPR wine_tests "${wine_tests} + 1")
  endif()
endforeach()
if(wine_tests EQUAL 0)
  message(FATAL_ERROR "BUILD_TESTING=ON lists no test program: ${tests}")
endif()
message(STATUS "${said}; ${wine_tests} test programs listed, disabled")
