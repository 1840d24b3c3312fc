# The fax engine's readers of modem output: result lines, HDLC frames and what they carry.
if(TARGET korvane_fax)
  korvane_fuzzer(fax_response_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/fax_response_fuzz.cpp
                 LIBS korvane_fax)
  korvane_fuzzer(fax_frame_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/fax_frame_fuzz.cpp
                 LIBS korvane_fax)
endif()
if(TARGET korvane_fax)
  korvane_fuzzer(fax_class2_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/fax_class2_fuzz.cpp
                 LIBS korvane_fax)
endif()
