# T.4 coding speed: our coder against libtiff's CCITT Group 3 codec on the same page.
if(TARGET korvane_faximage)
  pkg_check_modules(KV_BENCH_TIFF IMPORTED_TARGET libtiff-4)
  if(KV_BENCH_TIFF_FOUND)
    korvane_benchmark(faximage_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/faximage_bench.cpp
      LIBS korvane_faximage PkgConfig::KV_BENCH_TIFF)
    if(TARGET faximage_bench)
      target_compile_definitions(faximage_bench PRIVATE
        KORVANE_TESTDATA="${KORVANE_TESTDATA}")
    endif()
  endif()
endif()
