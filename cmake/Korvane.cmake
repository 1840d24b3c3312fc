# Small helpers so that every subsystem, test, benchmark and fuzz target is declared alike.
include(GoogleTest)

set(KORVANE_SRC_ROOT ${PROJECT_SOURCE_DIR}/src)
set(KORVANE_TESTDATA ${PROJECT_SOURCE_DIR}/../shared/testdata)

# korvane_library(name SOURCES ... LIBS ...): a static library whose headers are included
# as "subsystem/file.h" from src/.
function(korvane_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${KORVANE_SRC_ROOT})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# korvane_gtest(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s]): one GoogleTest program.
# Tests are discovered when CTest runs, so a build never runs test code.
function(korvane_gtest name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${KORVANE_SRC_ROOT} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KORVANE_TESTDATA="${KORVANE_TESTDATA}"
    KORVANE_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set(labels unit)
  if(A_LABELS)
    set(labels ${A_LABELS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${labels}" TIMEOUT ${A_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# korvane_fuzzer(name SOURCES ... LIBS ...): with KORVANE_FUZZ a libFuzzer program; otherwise
# the same entry point behind a small driver that replays fuzz/corpus/<name>/ as a quick test.
function(korvane_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(KORVANE_FUZZ)
    add_executable(${name} ${A_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${A_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
    if(EXISTS ${corpus})
      add_test(NAME ${name}.replay COMMAND ${name} ${corpus})
      set_tests_properties(${name}.replay PROPERTIES LABELS "unit;fuzz-replay" TIMEOUT 120)
    endif()
  endif()
  target_include_directories(${name} PRIVATE ${KORVANE_SRC_ROOT})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# korvane_benchmark(name SOURCES ... LIBS ...): a Google Benchmark program (never a test).
function(korvane_benchmark name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${KORVANE_SRC_ROOT})
  target_link_libraries(${name} PRIVATE ${A_LIBS} benchmark::benchmark)
endfunction()
