# The Wine prefix of a test run, and how tests use it (included from tests/CMakeLists.txt).
#
# One prefix serves every test of the run. It is made afresh before the first Wine
# test (the fixture wine_prefix) and removed after the last. Its system32 holds the
# stand-in vssapi.dll (stand-in-vss/), but Wine loads a system DLL from its own
# builtins unless told otherwise: the tests that want the stand-in say so per
# process (WINEDLLOVERRIDES=vssapi=n), and every other test still meets Wine's
# vssapi, which answers E_NOTIMPL. The prefix also has a second volume, D:.

# The functions below are called from other directories too (tests/tool): they
# build on CMAKE_BINARY_DIR, which is the same everywhere, not on variables of this one.
#
# The Wine tests share the prefix and its wineserver, which serves several processes at
# once. The tests that load the stand-in VSS share the machine-wide state it keeps there
# (one set in creation at a time, across processes): they hold the lock quorlin_wine_vss,
# so that `ctest -j` runs them one at a time beside the others. A build
# without Wine (CMAKE_CROSSCOMPILING_EMULATOR unset: a packager's toolchain file)
# still builds every test program; its Wine tests are listed, disabled.
set(QUORLIN_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)

add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/stand-in-vss ${CMAKE_BINARY_DIR}/stand-in-vss)

if(CMAKE_CROSSCOMPILING_EMULATOR)
  get_filename_component(wine_directory ${CMAKE_CROSSCOMPILING_EMULATOR} DIRECTORY)
  foreach(action setup cleanup)
    add_test(NAME wine_prefix_${action}
      COMMAND ${CMAKE_COMMAND} -DACTION=${action} -DPREFIX=${QUORLIN_WINE_PREFIX}
              -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR} -DWINESERVER=${wine_directory}/wineserver
              -DSTAND_IN=$<TARGET_FILE:quorlin_stand_in_vss>
              -P ${CMAKE_CURRENT_LIST_DIR}/PrepareWinePrefix.cmake)
  endforeach()
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
  set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix TIMEOUT 300)
endif()

# Runs the tests NAMES under Wine in the run's prefix, with Wine's own vssapi.
function(quorlin_wine_test)
  set_tests_properties(${ARGN} PROPERTIES
    ENVIRONMENT "WINEDEBUG=-all;WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    FIXTURES_REQUIRED wine_prefix)
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set_tests_properties(${ARGN} PROPERTIES DISABLED ON)
  endif()
endfunction()

# quorlin_wine_vss_test(NAME name COMMAND program args... [TIMEOUT seconds])
# Adds a test whose processes load the stand-in vssapi.dll instead of Wine's. The
# test gets a store of its own (QUORLIN_VSS_STORE, a short folder on C:, so that
# tests may run side by side); the session library (stand-in-vss/session) points
# the stand-in at a log, frozen folders and a script for each case.
set_property(GLOBAL PROPERTY QUORLIN_WINE_VSS_TESTS 0)
function(quorlin_wine_vss_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;TIMEOUT" "COMMAND")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  get_property(count GLOBAL PROPERTY QUORLIN_WINE_VSS_TESTS)
  math(EXPR count "${count} + 1")
  set_property(GLOBAL PROPERTY QUORLIN_WINE_VSS_TESTS ${count})
  add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND})
  quorlin_wine_test(${arg_NAME})
  set_tests_properties(${arg_NAME} PROPERTIES TIMEOUT ${arg_TIMEOUT} RESOURCE_LOCK quorlin_wine_vss)
  set_property(TEST ${arg_NAME} APPEND PROPERTY ENVIRONMENT
    "WINEDLLOVERRIDES=vssapi=n" "QUORLIN_VSS_STORE=C:\\vss\\${count}")
endfunction()
