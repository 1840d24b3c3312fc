if(TARGET korvane_comm)
  korvane_fuzzer(comm_logs_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm_logs_fuzz.cpp
                 LIBS korvane_comm)
  korvane_fuzzer(comm_match_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/comm_match_fuzz.cpp
                 LIBS korvane_comm)
endif()
