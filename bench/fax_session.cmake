# Whole send sessions over the simulated line in real time: how long a fax takes compared with
# the bare page data at the line rate. Slow (minutes); run by hand, never in the test run.
# The test folders come after bench/, so the line's test support is compiled in here.
if(TARGET korvane-fax AND TARGET linesim)
  pkg_check_modules(KV_SESSION_TIFF REQUIRED IMPORTED_TARGET libtiff-4)
  korvane_benchmark(fax_session_bench
                    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fax_session_bench.cpp
                            ${PROJECT_SOURCE_DIR}/tests/e2e/process.cpp
                            ${PROJECT_SOURCE_DIR}/tests/e2e/simulated_line.cpp
                            ${PROJECT_SOURCE_DIR}/tests/linesim/fax_images.cpp
                    LIBS korvane_faximage PkgConfig::KV_SESSION_TIFF Threads::Threads)
  if(TARGET fax_session_bench)
    target_include_directories(fax_session_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(fax_session_bench PRIVATE KORVANE_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                               KORVANE_TESTDATA="${KORVANE_TESTDATA}")
    add_dependencies(fax_session_bench korvane-fax linesim)
  endif()
endif()
