# Shared helpers for the folder CMakeLists files.

# kv4r_library(NAME SOURCES ... [DEPS ...]): a static library for one source folder. Headers are
# included as "folder/file.h" from the repository root.
function(kv4r_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder whose sources have not arrived yet.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# kv4r_program(NAME SOURCES ... [DEPS ...]): a program, installed to bin/.
function(kv4r_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  install(TARGETS ${name} RUNTIME DESTINATION bin)
endfunction()

# kv4r_test(NAME SOURCES ... [DEPS ...] [LABELS ...]): a GoogleTest program; every test case becomes
# a ctest test (tests/support/main/test_main.cpp is its main). Tests find the built programs through the KV4R_BIN_DIR environment variable.
function(kv4r_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} testsupport testmain GTest::gmock)
  # One environment entry only: gtest_discover_tests splits a list value into separate properties.
  # The test main sets QT_QPA_PLATFORM=offscreen itself.
  set(props TIMEOUT 180 ENVIRONMENT "KV4R_BIN_DIR=${PROJECT_BINARY_DIR}/bin")
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# kv4r_bench(NAME SOURCES ... [DEPS ...]): a Google Benchmark program run by scripts/bench.
function(kv4r_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchsupport benchmark::benchmark)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench-bin)
endfunction()

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
