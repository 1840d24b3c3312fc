if(TARGET korvane_spell)
  korvane_fuzzer(spell_dictionary_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/spell_dictionary_fuzz.cpp
    LIBS korvane_spell)
endif()
