# Pressing Send on a composed fax: rendering, the send window and the modem's preparation, up to
# the dial command.
if(TARGET korvane_app AND TARGET korvane_sending AND TARGET korvane_scriptmodem)
  korvane_benchmark(send_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/send_bench.cpp
                    LIBS korvane_app korvane_sending korvane_scriptmodem)
endif()
