# The converter's image readers (BMP with dithering, TIFF, PCX, DCX) and its text lines.
if(TARGET korvane_faximage)
  set(kinds bmp tiff pcx dcx text)
  foreach(i RANGE 4)
    list(GET kinds ${i} kind)
    korvane_fuzzer(fuzz_${kind}_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/faximage_images_fuzz.cpp
                   LIBS korvane_faximage)
    target_compile_definitions(fuzz_${kind}_reader PRIVATE FUZZ_KIND=${i})
  endforeach()
endif()
