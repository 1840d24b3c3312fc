# The spell checker on the main dictionary the build makes: opening it, checking a document of
# 10,000 words, and the suggestions for one misspelt word.
if(TARGET korvane_spell AND TARGET korvane_dictionary)
  korvane_benchmark(spell_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/spell_bench.cpp LIBS korvane_spell)
  if(TARGET spell_bench)
    target_compile_definitions(spell_bench PRIVATE KORVANE_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    add_dependencies(spell_bench korvane_dictionary)
  endif()
endif()
