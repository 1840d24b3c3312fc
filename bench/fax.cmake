# The fax engine's modem-output reader and frame builder.
if(TARGET korvane_fax)
  korvane_benchmark(fax_reader_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/fax_reader_bench.cpp
                    LIBS korvane_fax)
endif()
