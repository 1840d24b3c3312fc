if(TARGET korvane_base)
  korvane_fuzzer(fuzz_string_resource SOURCES ${CMAKE_CURRENT_LIST_DIR}/string_resource_fuzz.cpp
                 LIBS korvane_base)
endif()
