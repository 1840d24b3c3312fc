# Opening the sent-fax list: table, model and the first screen of the view.
if(TARGET korvane_app)
  korvane_benchmark(app_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/app_bench.cpp LIBS korvane_app)
endif()
