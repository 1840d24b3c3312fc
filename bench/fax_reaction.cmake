# Reaction time of a fax session to a modem line through a pty, the port and its dispatcher.
if(TARGET korvane_fax AND TARGET korvane_scriptmodem)
  korvane_benchmark(fax_reaction_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/fax_reaction_bench.cpp
                    LIBS korvane_fax korvane_scriptmodem)
endif()
