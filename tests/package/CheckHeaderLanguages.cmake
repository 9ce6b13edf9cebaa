# The C header is what it promises to be: strict C89, and C++98; the C++ face
# compiles as C++11. Each is compiled with every warning as an error.
# In: CC, CXX, INCLUDE (the folder above quorlin/), WORK.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/c89.c "#include <quorlin/quorlin.h>\nint main(void) { return quorlin_version() == 0; }\n")
file(WRITE ${WORK}/cxx98.cpp "#include <quorlin/quorlin.h>\nint main() { return quorlin_version() == 0; }\n")
file(WRITE ${WORK}/cxx11.cpp "#include <quorlin/quorlin.hpp>\nint main() { return 0; }\n")

set(strict -Wall -Wextra -Werror -pedantic-errors -fsyntax-only -I${INCLUDE})
foreach(check "${CC};-std=c89;c89.c" "${CXX};-std=c++98;cxx98.cpp" "${CXX};-std=c++11;cxx11.cpp")
  execute_process(COMMAND ${check} ${strict} WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${check} failed:\n${out}")
  endif()
  message(STATUS "${check}: clean")
endforeach()
