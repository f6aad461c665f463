# What a sysop gets: the two programs, their manual pages and the README,
# installed by `cmake --install` and packed by `cpack` (a Debian package
# from the Linux build, a zip from the Win32 build). Nothing else installs:
# the generators, tests and benchmarks stay in the build tree.
include(GNUInstallDirs)

if(WIN32)
  # A zip to unpack into the node's folder beside FastEcho: the programs
  # and README.txt side by side, with DOS line ends for Notepad and type.
  set(KelvReadmeTxt ${CMAKE_BINARY_DIR}/README.txt)
  add_custom_command(OUTPUT ${KelvReadmeTxt}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/README.md -DOUTPUT=${KelvReadmeTxt}
            -P ${CMAKE_SOURCE_DIR}/cmake/dos_text.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/dos_text.cmake
    VERBATIM)
  add_custom_target(readme_txt ALL DEPENDS ${KelvReadmeTxt})
  install(TARGETS kelvane kelvutil RUNTIME DESTINATION .)
  install(FILES ${KelvReadmeTxt} DESTINATION .)
else()
  install(TARGETS kelvane kelvutil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KELVANE_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(KELVANE_PACKAGE_CONTACT "kelvane developers" CACHE STRING
    "Maintainer named in the Debian package: \"Name <address>\"")

set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR "kelvane developers")
set(CPACK_PACKAGE_CONTACT "${KELVANE_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "removes FastEcho echo areas on robot requests that arrive as netmail")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION comm)
  # Depends comes from the libraries the programs are linked with.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The summary above is the synopsis line; this is the text below it.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "kelvane reads robot requests in a FidoNet node's netmail folder, picks\n"
      "area names out of them with the sysop's patterns, and removes those\n"
      "areas from FastEcho's binary configuration, with their node links and,\n"
      "if asked, their message bases (*.MSG, Squish, JAM). kelvutil shows what\n"
      "kelvane reads and would do.")
endif()
include(CPack)
