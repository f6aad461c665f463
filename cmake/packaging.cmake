# What a sysop gets: the two programs, their manual pages, the README and
# the licence, installed by `cmake --install` and packed by `cpack` (a
# Debian package from the Linux build, a zip from the Win32 build). Nothing
# else installs: the generators, tests and benchmarks stay in the build tree.
include(GNUInstallDirs)

if(WIN32)
  # A zip to unpack into the node's folder beside FastEcho: the programs,
  # README.txt and LICENSE.txt side by side, with DOS line ends for Notepad
  # and type.
  set(KelvDosTexts "")
  foreach(Doc README.md LICENSE)
    string(REGEX REPLACE "\\.md$" "" Txt ${Doc})
    set(Txt ${CMAKE_BINARY_DIR}/${Txt}.txt)
    add_custom_command(OUTPUT ${Txt}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/${Doc} -DOUTPUT=${Txt}
              -P ${CMAKE_SOURCE_DIR}/cmake/dos_text.cmake
      DEPENDS ${CMAKE_SOURCE_DIR}/${Doc} ${CMAKE_SOURCE_DIR}/cmake/dos_text.cmake
      VERBATIM)
    list(APPEND KelvDosTexts ${Txt})
  endforeach()
  add_custom_target(dos_texts ALL DEPENDS ${KelvDosTexts})
  install(TARGETS kelvane kelvutil RUNTIME DESTINATION .)
  install(FILES ${KelvDosTexts} DESTINATION .)
else()
  # Debian's documentation folder holds the licence as a machine-readable
  # copyright file, made here from LICENSE, and the changelog compressed
  # (gzip -n, as the manual pages: the same text packs the same).
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE Licence)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
  if(NOT Licence MATCHES "Copyright \\(c\\) ([^\n]*)\n")
    message(FATAL_ERROR "LICENSE names no copyright holder")
  endif()
  set(Holders "${CMAKE_MATCH_1}")
  string(FIND "${Licence}" "Permission is hereby granted" Start)
  string(SUBSTRING "${Licence}" ${Start} -1 Licence)
  string(STRIP "${Licence}" Licence)
  # A paragraph break is " ." in a field's continuation lines.
  string(REPLACE "\n\n" "\n.\n" Licence "${Licence}")
  string(REPLACE "\n" "\n " Licence " ${Licence}")
  file(WRITE ${CMAKE_BINARY_DIR}/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: kelvane\n\n"
       "Files: *\nCopyright: ${Holders}\nLicense: Expat\n${Licence}\n")
  set(Changelog ${CMAKE_BINARY_DIR}/changelog)
  configure_file(${CMAKE_SOURCE_DIR}/doc/changelog ${Changelog} COPYONLY)
  find_program(GZIP_PROGRAM gzip REQUIRED)
  add_custom_command(OUTPUT ${Changelog}.gz
    COMMAND ${GZIP_PROGRAM} -9nkf ${Changelog}
    DEPENDS ${Changelog}
    VERBATIM)
  add_custom_target(changelog_gz ALL DEPENDS ${Changelog}.gz)
  install(TARGETS kelvane kelvutil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KELVANE_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/copyright ${Changelog}.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# A Debian maintainer field is a name and an address; a package built for
# a node's own use may keep this one.
set(KELVANE_PACKAGE_CONTACT "kelvane authors <kelvane@example.org>" CACHE STRING
    "Maintainer named in the Debian package: \"Name <address>\"")
# Build trees configured before kept a default without an address.
if(KELVANE_PACKAGE_CONTACT STREQUAL "kelvane developers")
  set_property(CACHE KELVANE_PACKAGE_CONTACT PROPERTY VALUE "kelvane authors <kelvane@example.org>")
endif()
if(NOT KELVANE_PACKAGE_CONTACT MATCHES "^[^<>]*[^<> ] <[^<>@ ]+@[^<>@ ]+>$")
  message(FATAL_ERROR "KELVANE_PACKAGE_CONTACT is \"${KELVANE_PACKAGE_CONTACT}\", "
                      "not a maintainer field: \"Name <address>\"")
endif()

set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR "kelvane authors")
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
