# Installation and the Debian package (scripts/package). Installed, the program keeps its files in
# the user's data directory; share/korvane holds what it ships read-only (the main dictionary,
# the demo's sample fax).
include(GNUInstallDirs)

if(KORVANE_FUZZ OR NOT TARGET korvane OR NOT TARGET korvane-fax OR NOT TARGET linesim)
  return()
endif()

set(pkg ${PROJECT_SOURCE_DIR}/packaging)
install(TARGETS korvane korvane-fax linesim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/bin/krv.dct DESTINATION ${CMAKE_INSTALL_DATADIR}/korvane)
install(FILES ${pkg}/korvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${pkg}/korvane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${pkg}/korvane-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME korvane.xml)

# Manual pages: korvane-fax's and linesim's made from their own --help, gzipped as Debian wants.
set(man_dir ${CMAKE_BINARY_DIR}/man)
set(man_pages)
foreach(entry "korvane-fax|send, receive, convert and inspect faxes from the command line"
              "linesim|a simulated telephone line with fax modems, for trying fax programs")
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 tool)
  list(GET parts 1 summary)
  add_custom_command(OUTPUT ${man_dir}/${tool}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${pkg}/make-manpage $<TARGET_FILE:${tool}> ${PROJECT_VERSION} ${man_dir}/${tool}.1
            ${summary}
    COMMAND gzip -9nf ${man_dir}/${tool}.1
    DEPENDS ${tool} ${pkg}/make-manpage VERBATIM)
  list(APPEND man_pages ${man_dir}/${tool}.1.gz)
endforeach()
add_custom_command(OUTPUT ${man_dir}/korvane.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
  COMMAND gzip -9nc ${pkg}/korvane.1 > ${man_dir}/korvane.1.gz
  DEPENDS ${pkg}/korvane.1 VERBATIM)
list(APPEND man_pages ${man_dir}/korvane.1.gz)
add_custom_target(korvane_man ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Korvane developers <korvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop fax program for fax modems")
set(CPACK_PACKAGE_DESCRIPTION
    "Compose faxes with a cover sheet and a rich-text document, send them through a Class 1, 2 or 2.0 fax modem, receive faxes, view and print them. Includes korvane-fax, the command-line front end, and linesim, a simulated telephone line for trying the program without a modem.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so the library scan cannot see them: the desktop platform plugin, the
# fonts the documents are drawn with, the print queue client.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
