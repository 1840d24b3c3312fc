# The scripted modem's script parser.
if(TARGET korvane_scriptmodem)
  korvane_fuzzer(fuzz_modem_script SOURCES ${CMAKE_CURRENT_LIST_DIR}/modem_script_fuzz.cpp
                 LIBS korvane_scriptmodem)
endif()
