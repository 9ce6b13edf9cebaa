# Installs a build into a fresh prefix, then configures, builds and runs the
# consumer project against it with find_package(Quorlin).
# In: BUILD (the build tree), WORK (a scratch directory), CXX (the compiler),
# CXX_FLAGS (flags the consumer needs to link with the library, may be empty).
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/Run.cmake)

file(REMOVE_RECURSE ${WORK})
run("install" ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix)
foreach(file include/Quorlin.h include/QuorlinTypes.h include/QuorlinComPtr.h)
  if(NOT EXISTS ${WORK}/prefix/${file})
    message(FATAL_ERROR "the installed package lacks ${file}")
  endif()
endforeach()
run("configuring the consumer" ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/consumer
  -B ${WORK}/consumer -DCMAKE_PREFIX_PATH=${WORK}/prefix -DCMAKE_CXX_COMPILER=${CXX}
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=Release)
run("building the consumer" ${CMAKE_COMMAND} --build ${WORK}/consumer)
run("the consumer" ${WORK}/consumer/quorlin_consumer)
