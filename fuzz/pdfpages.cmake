# The PDF entry point: the frame checks of our own, the renderer's reading, and the drawing and
# halftoning of the first page at normal resolution.
if(TARGET korvane_pdfpages)
  korvane_fuzzer(pdfpages_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/pdfpages_fuzz.cpp
                 LIBS korvane_pdfpages)
endif()
