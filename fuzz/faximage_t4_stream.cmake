# The line-side T.4 stream decoder (MH and MR pages as they come from the modem).
if(TARGET korvane_faximage)
  korvane_fuzzer(faximage_t4_stream_fuzz
                 SOURCES ${CMAKE_CURRENT_LIST_DIR}/faximage_t4_stream_fuzz.cpp
                 LIBS korvane_faximage)
endif()
