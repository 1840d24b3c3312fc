# PDF documents to APF: a ten-page LibreOffice document drawn, halftoned and coded at fine and
# normal resolution (target: under 2 s for the ten pages at fine).
if(TARGET korvane_pdfpages)
  korvane_benchmark(pdfpages_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/pdfpages_bench.cpp
                    LIBS korvane_pdfpages)
  if(TARGET pdfpages_bench)
    target_compile_definitions(pdfpages_bench PRIVATE
      KORVANE_BENCH_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
  endif()
endif()
