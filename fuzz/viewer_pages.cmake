# The viewer's page loading path: pages of a damaged APF file decoded as the viewer and the
# printer decode them, turned, scaled for the screen and exported.
if(TARGET korvane_faximage)
  korvane_fuzzer(viewer_pages_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/viewer_pages_fuzz.cpp
            ${PROJECT_SOURCE_DIR}/src/viewer/page_image.cpp
    LIBS korvane_faximage Qt6::Gui)
endif()
