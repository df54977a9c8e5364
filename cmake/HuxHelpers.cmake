# One helper per kind of target: libraries, tests, binaries and benchmarks.
include_guard(GLOBAL)

# hux_cc_library(NAME OUTPUT_NAME name SRCS ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Builds the shared library hux_NAME with the alias hux::NAME.
function(hux_cc_library NAME)
  cmake_parse_arguments(A "" "OUTPUT_NAME" "SRCS;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(hux_${NAME} SHARED ${A_SRCS})
  add_library(hux::${NAME} ALIAS hux_${NAME})
  set_target_properties(hux_${NAME} PROPERTIES EXPORT_NAME ${NAME})
  if(A_OUTPUT_NAME)
    set_target_properties(hux_${NAME} PROPERTIES OUTPUT_NAME "${A_OUTPUT_NAME}")
  endif()
  target_compile_definitions(hux_${NAME} PRIVATE HUX_BUILDING_LIBRARY)
  # Calls inside the library bind to its own definitions: they can be inlined
  # and need no PLT, while exported symbols stay visible to clients.
  target_compile_options(hux_${NAME} PRIVATE -fno-semantic-interposition)
  target_include_directories(hux_${NAME}
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(hux_${NAME} PUBLIC ${A_PUBLIC_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  # The public headers need C++20; users that set no language level get it.
  target_compile_features(hux_${NAME} PUBLIC cxx_std_20)
endfunction()

# hux_cc_test(NAME SRCS ... [DEPS ...] [LABELS ...] [FIXTURES ...])
# A GoogleTest executable whose tests ctest runs one by one, each after the
# set-up of the ctest FIXTURES it names.
function(hux_cc_test NAME)
  cmake_parse_arguments(A "" "" "SRCS;DEPS;LABELS;FIXTURES" ${ARGN})
  add_executable(${NAME} ${A_SRCS})
  target_include_directories(${NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${NAME} PRIVATE hux::common GTest::gtest GTest::gmock GTest::gtest_main ${A_DEPS})
  gtest_discover_tests(${NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${A_LABELS}" ENVIRONMENT "HUX_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
               FIXTURES_REQUIRED "${A_FIXTURES}")
endfunction()

# hux_cc_binary(NAME SRCS ... [DEPS ...])
# Once installed, the program finds the library relative to itself, so the
# installed tree runs from any prefix, also after it has been moved.
function(hux_cc_binary NAME)
  cmake_parse_arguments(A "" "" "SRCS;DEPS" ${ARGN})
  add_executable(${NAME} ${A_SRCS})
  target_link_libraries(${NAME} PRIVATE hux::common ${A_DEPS})
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    set(rpath "${CMAKE_INSTALL_FULL_LIBDIR}")
  else()
    file(RELATIVE_PATH to_lib "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
    set(rpath "$ORIGIN/${to_lib}")
  endif()
  set_target_properties(${NAME} PROPERTIES INSTALL_RPATH "${rpath}")
endfunction()

# hux_cc_benchmark(NAME SRCS ... [DEPS ...])
function(hux_cc_benchmark NAME)
  cmake_parse_arguments(A "" "" "SRCS;DEPS" ${ARGN})
  add_executable(${NAME} ${A_SRCS})
  target_include_directories(${NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${NAME} PRIVATE hux::common benchmark::benchmark ${A_DEPS})
endfunction()

# hux_find_libpq(): sets HUX_LIBPQ to the imported target of PostgreSQL's
# client library (CMake's module, else pkg-config), empty when there is none.
macro(hux_find_libpq)
  find_package(PostgreSQL QUIET)
  if(PostgreSQL_FOUND)
    set(HUX_LIBPQ PostgreSQL::PostgreSQL)
  else()
    find_package(PkgConfig QUIET)
    if(PkgConfig_FOUND)
      pkg_check_modules(HUX_LIBPQ_PC QUIET IMPORTED_TARGET libpq)
    endif()
    set(HUX_LIBPQ "")
    if(HUX_LIBPQ_PC_FOUND)
      set(HUX_LIBPQ PkgConfig::HUX_LIBPQ_PC)
    endif()
  endif()
endmacro()
