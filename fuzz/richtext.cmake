# RTF: the reader on arbitrary bytes, then the writer on what it read and the reader again.
if(TARGET korvane_richtext_doc)
  korvane_fuzzer(richtext_rtf_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/richtext_rtf_fuzz.cpp
                 LIBS korvane_richtext_doc)
endif()
