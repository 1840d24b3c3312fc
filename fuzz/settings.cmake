if(TARGET korvane_settings)
  korvane_fuzzer(fuzz_ini SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_fuzz.cpp LIBS korvane_settings)
endif()
