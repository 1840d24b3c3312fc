if(TARGET korvane_base)
  korvane_fuzzer(fuzz_string_resource SOURCES ${CMAKE_CURRENT_LIST_DIR}/string_resource_fuzz.cpp
                 LIBS korvane_base)
endif()
if(TARGET korvane_base)
  korvane_fuzzer(fuzz_dial_string SOURCES ${CMAKE_CURRENT_LIST_DIR}/dial_string_fuzz.cpp
                 LIBS korvane_base)
endif()
