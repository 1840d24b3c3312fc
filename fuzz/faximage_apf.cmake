# APF reading: the file walk, the record reader, the T.4 decoder and the unpacker's outputs.
if(TARGET korvane_faximage)
  korvane_fuzzer(faximage_apf_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/faximage_apf_fuzz.cpp
                 LIBS korvane_faximage)
endif()
