# Serial layer: throughput through a pty pair with rings and triggers, and idle CPU of an open port.
if(TARGET korvane_comm)
  korvane_benchmark(comm_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm_bench.cpp LIBS korvane_comm)
endif()
