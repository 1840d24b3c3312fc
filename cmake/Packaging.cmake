# Installation and the Debian package (scripts/package). Installed, the program keeps its files in
# the user's data directory; share/korvane holds what it ships read-only (the main dictionary,
# the demo's sample fax).
include(GNUInstallDirs)

if(KORVANE_FUZZ OR NOT TARGET korvane OR NOT TARGET korvane-fax OR NOT TARGET linesim)
  return()
endif()

set(pkg ${PROJECT_SOURCE_DIR}/packaging)
# Whoever builds packages for others names themselves here (cmake -DKORVANE_PACKAGE_CONTACT=...).
set(KORVANE_PACKAGE_CONTACT "Korvane developers <korvane@localhost>"
    CACHE STRING "Maintainer of the Debian package: name <address>")
install(TARGETS korvane korvane-fax linesim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/bin/krv.dct DESTINATION ${CMAKE_INSTALL_DATADIR}/korvane)
if(TARGET korvane-fax-backend)
  # The fax printer's backend: the print system runs a backend as root only when nobody else may
  # run it (mode 0700), and root it must be to hand each job to the user who printed it.
  install(TARGETS korvane-fax-backend RUNTIME DESTINATION lib/cups/backend
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  install(FILES ${pkg}/korvane-fax.ppd DESTINATION ${CMAKE_INSTALL_DATADIR}/korvane)
  # Debian's checker flags that mode; the override says it is meant.
  install(FILES ${pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME korvane)
endif()
install(FILES ${pkg}/korvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${pkg}/korvane.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${pkg}/korvane-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME korvane.xml)
# Resolved when the programs start, not when a function is first called, and the relocation
# tables read-only afterwards.
foreach(program korvane korvane-fax linesim)
  target_link_options(${program} PRIVATE LINKER:-z,relro LINKER:-z,now)
endforeach()

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

# The package's history, as Debian keeps it for a package made by its own project, and who owns
# what it holds (the dictionary is built from a word list whose notice must go with it).
set(doc_dir ${CMAKE_BINARY_DIR}/doc)
configure_file(${pkg}/changelog.in ${doc_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${doc_dir}/changelog.gz
  COMMAND gzip -9nc ${doc_dir}/changelog > ${doc_dir}/changelog.gz
  DEPENDS ${doc_dir}/changelog VERBATIM)
add_custom_target(korvane_changelog ALL DEPENDS ${doc_dir}/changelog.gz)
install(FILES ${doc_dir}/changelog.gz ${pkg}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/korvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KORVANE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop fax program for fax modems")
# Lines of at most 80 characters, as Debian's tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Korvane composes faxes with a cover sheet and a rich-text document, sends"
  "them through a Class 1, 2 or 2.0 fax modem on a serial or USB port, answers"
  "calls and stores the faxes it receives, and shows and prints them. A phone"
  "book, cover sheet templates and a spell checker serve the editors."
  "."
  "The package also holds korvane-fax, the same engines on the command line,"
  "and linesim, a simulated telephone line with a fax machine at its far end,"
  "for trying the program without a modem (korvane --demo).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${pkg}/strip.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so the library scan cannot see them: the desktop platform plugin, the
# fonts the documents are drawn with, the print queue client.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core, fonts-liberation2")
# The print system runs the fax printer and converts what is printed to it into PDF.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client, cups")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
