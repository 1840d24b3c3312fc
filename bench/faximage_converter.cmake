# The fax converter on full pages: the page bitmap of a composed fax, a text page, a colour page.
if(TARGET korvane_faximage)
  korvane_benchmark(converter_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/converter_bench.cpp
                    LIBS korvane_faximage)
  if(TARGET converter_bench)
    target_compile_definitions(converter_bench PRIVATE KORVANE_TESTDATA="${KORVANE_TESTDATA}")
  endif()
endif()
