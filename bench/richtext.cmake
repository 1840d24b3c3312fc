# Rich text: reading a large RTF file, and rendering a ten-page fax into an APF file.
if(TARGET korvane_richtext_doc)
  korvane_benchmark(richtext_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/richtext_bench.cpp
    LIBS korvane_richtext_doc)
  if(TARGET richtext_bench)
    target_compile_definitions(richtext_bench PRIVATE KORVANE_TESTDATA="${KORVANE_TESTDATA}")
  endif()
endif()
