# The viewer's figures: a 10-page fine fax opened and shown, a page turn, a turn of the page
# and 10 pages printed into a PDF.
if(TARGET korvane_viewer)
  korvane_benchmark(viewer_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/viewer_bench.cpp
                    LIBS korvane_viewer)
  target_compile_definitions(viewer_bench PRIVATE KORVANE_TESTDATA="${KORVANE_TESTDATA}")
  target_include_directories(viewer_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
endif()
