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

# korvane_gtest(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [LINE]): one GoogleTest
# program. Tests are discovered when CTest runs, so a build never runs test code.
#
# LINE marks a program whose tests make calls over the simulated line (linesim, efax, the far-end
# fax machine, korvane-fax on a pty). Such a call runs in accelerated real time: a 3 s protocol
# deadline is well under half a second of real time at 8x, so a program that the scheduler keeps
# waiting that long loses the call. Every test of a LINE program therefore holds the lock
# `simulated_line` (never two calls at once) and counts as two processors (its two ends), so
# `ctest -j 2` on a two-core machine runs it with no other test beside it; on more cores other
# tests still run alongside. Any new test that starts a line must be in a LINE program.
function(korvane_gtest name)
  cmake_parse_arguments(A "LINE" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
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
  set(line_properties)
  if(A_LINE)
    set(line_properties RESOURCE_LOCK simulated_line PROCESSORS 2)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${labels}" TIMEOUT ${A_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ${line_properties})
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
