# Script run by ctest: install into a scratch prefix, move the prefix, build
# the consumer one way (MODE) against the moved tree, run it, and run the
# installed huxdump on the file the consumer wrote; with WITH_SQLITE_HOST or
# WITH_PG_HOST, build and run the host consumer too, linked with the
# installed host components (PostgreSQL: on the server PG_SERVER_FILE names).
# Nothing may still point at the first prefix: neither the package files nor
# the programs' run paths.
file(REMOVE_RECURSE "${WORK}")
set(installed "${WORK}/installed")
set(prefix "${WORK}/moved/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message("${out}")
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${HUX_BUILD_DIR}" --prefix "${installed}")
file(MAKE_DIRECTORY "${WORK}/moved")
file(RENAME "${installed}" "${prefix}")
# The loader finds the library through the run paths alone.
unset(ENV{LD_LIBRARY_PATH})

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=${SANITIZE}")
endif()

if(MODE STREQUAL "cmake")
  # The consumer project sets no C++ standard: hux::common brings C++20.
  run(${CMAKE_COMMAND} -S "${CONSUMER_SRC}" -B "${WORK}/build" "-DCMAKE_PREFIX_PATH=${prefix}"
      "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}"
      "-DWITH_SQLITE_HOST=${WITH_SQLITE_HOST}" "-DWITH_PG_HOST=${WITH_PG_HOST}")
  run(${CMAKE_COMMAND} --build "${WORK}/build")
  set(consumer "${WORK}/build/consumer")
  set(host_consumer "${WORK}/build/host_consumer")
else()
  set(ENV{PKG_CONFIG_PATH} "${prefix}/${LIBDIR}/pkgconfig")
  execute_process(COMMAND pkg-config --cflags --libs hux RESULT_VARIABLE rc OUTPUT_VARIABLE pc
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND pkg-config --variable=libdir hux OUTPUT_VARIABLE libdir
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0 OR NOT IS_DIRECTORY "${libdir}")
    message(FATAL_ERROR "pkg-config does not find hux in the moved prefix (libdir '${libdir}')")
  endif()
  separate_arguments(pc UNIX_COMMAND "${pc}")
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(consumer "${WORK}/consumer")
  run(${CXX} ${flags} "${CONSUMER_SRC}/consumer.cpp" -o "${consumer}" ${pc} "-Wl,-rpath,${libdir}")
  set(host_packages)
  set(host_defines)
  if(WITH_SQLITE_HOST)
    list(APPEND host_packages hux_sqlite_host)
    list(APPEND host_defines -DHUX_CONSUMER_SQLITE)
  endif()
  if(WITH_PG_HOST)
    list(APPEND host_packages hux_pg_host)
    list(APPEND host_defines -DHUX_CONSUMER_PG)
  endif()
  if(host_packages)
    execute_process(COMMAND pkg-config --cflags --libs ${host_packages} RESULT_VARIABLE rc OUTPUT_VARIABLE pc
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "pkg-config does not find ${host_packages} in the moved prefix")
    endif()
    separate_arguments(pc UNIX_COMMAND "${pc}")
    set(host_consumer "${WORK}/host_consumer")
    run(${CXX} ${flags} ${host_defines} "${CONSUMER_SRC}/host_consumer.cpp" -o "${host_consumer}" ${pc}
        "-Wl,-rpath,${libdir}")
  endif()
endif()
if(WITH_SQLITE_HOST)
  run("${host_consumer}" sqlite "${WORK}/project.db")
  if(NOT out MATCHES "saved and reopened")
    message(FATAL_ERROR "the host consumer did not report its round trip:\n${out}")
  endif()
endif()
if(WITH_PG_HOST)
  set(pg_host "none: no private server was started")
  if(EXISTS "${PG_SERVER_FILE}")
    file(STRINGS "${PG_SERVER_FILE}" pg_host LIMIT_COUNT 1)
  endif()
  if(pg_host AND NOT pg_host MATCHES "^none:")
    run("${host_consumer}" pg "host=${pg_host} dbname=postgres user=postgres")
    if(NOT out MATCHES "saved and reopened")
      message(FATAL_ERROR "the host consumer did not report its round trip on PostgreSQL:\n${out}")
    endif()
  else()
    message("no PostgreSQL server (${pg_host}): the PostgreSQL host consumer was built, not run")
  endif()
endif()
run("${consumer}" "${WORK}/object.hux")
run("${prefix}/${BINDIR}/huxdump" "${WORK}/object.hux")
if(NOT out MATCHES "version 3")
  message(FATAL_ERROR "huxdump did not show the consumer's object:\n${out}")
endif()
