# The line-side T.4 stream coder in MR (and MH) against libtiff's Group 3 2D codec.
if(TARGET korvane_faximage)
  pkg_check_modules(KV_BENCH_MR_TIFF IMPORTED_TARGET libtiff-4)
  if(KV_BENCH_MR_TIFF_FOUND)
    korvane_benchmark(faximage_mr_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/faximage_mr_bench.cpp
      LIBS korvane_faximage PkgConfig::KV_BENCH_MR_TIFF)
    if(TARGET faximage_mr_bench)
      target_compile_definitions(faximage_mr_bench PRIVATE KORVANE_TESTDATA="${KORVANE_TESTDATA}")
    endif()
  endif()
endif()
