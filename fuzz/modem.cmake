if(TARGET korvane_modem)
  korvane_fuzzer(modem_holder_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/modem_holder_fuzz.cpp
                 LIBS korvane_modem)
endif()
