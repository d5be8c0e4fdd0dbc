# The papers installed with the programs, and the packages CPack makes of an
# installed tree: a Debian package of a Linux build, a ZIP of a Windows one.
#
#   cpack -G DEB   corvane-handshake_<version>_<arch>.deb (configure with
#                  -DCMAKE_INSTALL_PREFIX=/usr -DCORVANE_DEBIAN_DOCS=ON)
#   cpack -G ZIP   corvane-handshake-<version>-win64.zip: the .exe, README.md
#                  and LICENSE.txt side by side
#
# scripts/release builds both from a clean checkout.

set(CORVANE_PACKAGE_MAINTAINER "Corvane Handshake Maintainers <corvane-handshake@example.org>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")
option(CORVANE_DEBIAN_DOCS "Install the Debian package's copyright file and changelog in the doc folder" OFF)

if(NOT EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
  message(FATAL_ERROR "LICENSE is missing")
endif()
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(FIND "${license_text}" "${CORVANE_COPYRIGHT}" copyright_at)
if(copyright_at EQUAL -1)
  message(FATAL_ERROR "LICENSE does not carry \"${CORVANE_COPYRIGHT}\"")
endif()

if(WIN32)
  # Read on Windows with a double click: the extension chooses the editor.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CORVANE_INSTALL_DOCDIR} RENAME LICENSE.txt)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CORVANE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CORVANE_INSTALL_DOCDIR})

if(CORVANE_DEBIAN_DOCS)
  # The copyright file in Debian's machine-readable form, its licence text
  # taken from LICENSE: each line indented by one space, an empty line as " .".
  string(REGEX REPLACE "^Copyright \\(c\\) " "" CORVANE_COPYRIGHT_HOLDER "${CORVANE_COPYRIGHT}")
  string(FIND "${license_text}" "Permission is hereby granted" grant_at)
  string(SUBSTRING "${license_text}" ${grant_at} -1 grant)
  string(STRIP "${grant}" grant)
  string(REPLACE "\n\n" "\n.\n" grant "${grant}")
  string(REPLACE "\n" "\n " grant "${grant}")
  set(CORVANE_LICENSE_TEXT " ${grant}")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in
                 ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)

  # The changelog's latest entry must be this version: a release adds it.
  file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog_head LIMIT_COUNT 1)
  if(NOT changelog_head MATCHES "^corvane-handshake \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog begins with \"${changelog_head}\"; "
                        "its latest entry must be for ${PROJECT_VERSION}")
  endif()
  find_program(CORVANE_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog
    COMMAND ${CORVANE_GZIP} -9nf changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/packaging
    VERBATIM)
  add_custom_target(corvane_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME corvane-handshake)
set(CPACK_PACKAGE_VENDOR "The corvane-handshake developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "switch the handshake of a Corvane serial adapter on or off")
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# A umask of the builder's must not reach the package's folders.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The release presets gather both packages in one folder.
set(CORVANE_PACKAGE_DIR "" CACHE PATH "Folder the packages are written to (default: the build folder)")
if(CORVANE_PACKAGE_DIR)
  set(CPACK_OUTPUT_FILE_PREFIX ${CORVANE_PACKAGE_DIR})
endif()

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME corvane-handshake-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps reads the libraries the binaries need.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "corvane-handshake finds a Corvane serial adapter on COM1 (a serial device
such as /dev/ttyS0 or /dev/ttyUSB0 on Linux), completes its setup handshake
and writes three settings of its radio module over the module link: the
UART configuration with or without its handshake bit, the host interface and
VM disable.
.
corvane-emulator plays the adapter and its radio module on a
pseudo-terminal, so that the tool can be tried and tested without hardware.")
endif()

include(CPack)
