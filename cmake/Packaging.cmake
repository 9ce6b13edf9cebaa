# Packages of the install: on Linux three .deb files (the library, the development
# files, the quorlin command); on Windows one zip per architecture with everything.
# `cmake --build --preset <leg> --target package` writes them into the build folder.

set(CPACK_PACKAGE_NAME quorlin)
set(CPACK_PACKAGE_VENDOR "Quorlin")
set(CPACK_PACKAGE_CONTACT "Quorlin developers <quorlin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Read live volumes as they were at one instant")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_COMPONENTS_ALL library development)
if(QUORLIN_BUILD_TOOLS)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()

if(WIN32)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(quorlin_architecture x64)
  else()
    set(quorlin_architecture i686)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_PACKAGE_FILE_NAME quorlin-${PROJECT_VERSION}-windows-${quorlin_architecture})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/src)
  set(quorlin_library_package libquorlin${PROJECT_VERSION_MAJOR})
  set(quorlin_exact "(= ${PROJECT_VERSION})")

  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${quorlin_library_package})
  # A shlibs file, and ldconfig run on install and removal.
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "Quorlin's shared library, libquorlin.so: VSS-style snapshots on btrfs for backup programs")

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquorlin-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${quorlin_library_package} ${quorlin_exact}")
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Quorlin's headers (Quorlin.h, quorlin/quorlin.h, quorlin/quorlin.hpp), CMake package and quorlin.pc")

  set(CPACK_DEBIAN_TOOL_PACKAGE_NAME quorlin)
  set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${quorlin_library_package} ${quorlin_exact}")
  set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "The quorlin command: copy files in use, or run a command on a snapshot")
endif()

include(CPack)
