# Script run by ctest: install, build the consumer one way (MODE), run it.
file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message("${out}")
endfunction()

run(${CMAKE_COMMAND} --install "${HUX_BUILD_DIR}" --prefix "${prefix}")

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE}")
endif()

if(MODE STREQUAL "cmake")
  run(${CMAKE_COMMAND} -S "${CONSUMER_SRC}" -B "${WORK}/build" "-DCMAKE_PREFIX_PATH=${prefix}"
      "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
  run(${CMAKE_COMMAND} --build "${WORK}/build")
  run("${WORK}/build/consumer")
else()
  set(ENV{PKG_CONFIG_PATH} "${prefix}/lib/pkgconfig")
  execute_process(COMMAND pkg-config --cflags --libs hux RESULT_VARIABLE rc OUTPUT_VARIABLE pc
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know hux")
  endif()
  separate_arguments(pc UNIX_COMMAND "${pc}")
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX} ${flags} "${CONSUMER_SRC}/consumer.cpp" -o "${WORK}/consumer" ${pc})
  set(ENV{LD_LIBRARY_PATH} "${prefix}/lib")
  run("${WORK}/consumer")
endif()
