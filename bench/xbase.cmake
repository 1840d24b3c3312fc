# Opening a 10,000-row sent-fax table and reading the first screen in date-sent order.
if(TARGET korvane_xbase)
  korvane_benchmark(xbase_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/xbase_bench.cpp LIBS korvane_xbase)
endif()
