# Configures, builds and installs the library alone (-DQUORLIN_BUILD_TOOLS=OFF) as a
# host project embedding Quorlin would, on a machine without GoogleTest (its folder
# is pointed elsewhere): the build must need no CLI11, no GoogleTest and nothing else
# beyond a compiler and CMake, and the install must hold the library and its headers.
# In: SOURCE, WORK, CXX.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/Run.cmake)

file(REMOVE_RECURSE ${WORK})
run("configuring" ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/build -DCMAKE_BUILD_TYPE=
  -DCMAKE_CXX_COMPILER=${CXX} -DQUORLIN_BUILD_TOOLS=OFF -DQUORLIN_WERROR=ON
  -DQUORLIN_GOOGLETEST_DIR=${WORK}/no-googletest -DCMAKE_UNITY_BUILD=ON)
file(READ ${WORK}/build/CMakeCache.txt cache)
foreach(dependency "QUORLIN_CLI11_DIR" "QUORLIN_BUILD_TESTS:BOOL=OFF" "gtest_" "GTest_DIR" "benchmark_DIR")
  string(FIND "${cache}" "${dependency}" found)
  if(dependency MATCHES "=OFF$")
    if(found LESS 0)
      message(FATAL_ERROR "the library-only build would build the tests")
    endif()
  elseif(found GREATER_EQUAL 0)
    message(FATAL_ERROR "the library-only build looks for ${dependency}")
  endif()
endforeach()
run("building" ${CMAKE_COMMAND} --build ${WORK}/build --parallel 2)
run("installing" ${CMAKE_COMMAND} --install ${WORK}/build --prefix ${WORK}/prefix)
file(GLOB_RECURSE installed RELATIVE ${WORK}/prefix ${WORK}/prefix/*)
foreach(file include/Quorlin.h include/quorlin/quorlin.h include/quorlin/quorlin.hpp
    lib/libquorlin.so lib/pkgconfig/quorlin.pc lib/cmake/Quorlin/QuorlinConfig.cmake)
  if(NOT file IN_LIST installed)
    message(FATAL_ERROR "the library-only install lacks ${file}: ${installed}")
  endif()
endforeach()
foreach(file IN LISTS installed)
  if(file MATCHES "^bin/")
    message(FATAL_ERROR "the library-only install holds a program: ${file}")
  endif()
endforeach()
message(STATUS "the library alone builds and installs: ${installed}")
