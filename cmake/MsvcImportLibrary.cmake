# quorlin.lib: the import library that MSVC (and clang-cl / lld-link) hosts link
# against, made from the .def file by llvm-dlltool beside MinGW's libquorlin.dll.a.
# Without llvm-dlltool the library builds without it (and says so).

find_program(QUORLIN_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14
  HINTS /usr/lib/llvm-14/bin DOC "llvm-dlltool, for the MSVC import library (Debian: llvm-14)")

# Makes quorlin.lib for `target` (a DLL) from `def` in the target's archive folder.
function(quorlin_msvc_import_library target def)
  if(NOT QUORLIN_DLLTOOL)
    message(WARNING "llvm-dlltool not found: no MSVC import library quorlin.lib")
    return()
  endif()
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(machine i386:x86-64)
  else()
    set(machine i386)
  endif()
  set(output ${CMAKE_CURRENT_BINARY_DIR}/quorlin.lib)
  add_custom_command(OUTPUT ${output}
    COMMAND ${QUORLIN_DLLTOOL} -m ${machine} -d ${def} -l ${output}
    DEPENDS ${def}
    COMMENT "Making the MSVC import library quorlin.lib (${machine})")
  add_custom_target(${target}_msvc_import_library ALL DEPENDS ${output})
  set_property(TARGET ${target} PROPERTY QUORLIN_MSVC_IMPORT_LIBRARY ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endfunction()
