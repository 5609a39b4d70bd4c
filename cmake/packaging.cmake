# Installation and the Debian package: `cpack -G DEB` in a build folder (scripts/package.sh does that
# and checks what it made).
#
# The package holds the programs, their manual pages and changelog (compressed, as Debian keeps them),
# the copyright file, the desktop entry of the window with its icon, the README with the user guide and
# the pages and pictures they link to, and the example job. Its dependencies
# come from dpkg-shlibdeps, which reads them off the programs themselves; where that tool is missing the
# list below stands in, and it names what the programs link against on Debian 12.
if(WIN32)
  return()  # the Win32 programs are copied, not installed
endif()

include(GNUInstallDirs)

set(VEXAL_PROGRAMS vexal vq3140-sim)
set(VEXAL_MAN_PAGES vexal vq3140-sim)
if(TARGET vexalw)
  list(APPEND VEXAL_PROGRAMS vexalw)
  list(APPEND VEXAL_MAN_PAGES vexalw)
endif()
if(TARGET vexal-station)
  list(APPEND VEXAL_PROGRAMS vexal-station)
  list(APPEND VEXAL_MAN_PAGES vexal-station)
endif()
install(TARGETS ${VEXAL_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# gzip -n keeps the name and time out of the archive, so the same page always packs the same.
find_program(VEXAL_GZIP gzip REQUIRED)
set(man_dir ${CMAKE_BINARY_DIR}/man)
set(compressed_pages)
foreach(page ${VEXAL_MAN_PAGES})
  set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.1)
  add_custom_command(OUTPUT ${man_dir}/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${man_dir}/${page}.1
    COMMAND ${VEXAL_GZIP} -9nf ${man_dir}/${page}.1
    DEPENDS ${source}
    VERBATIM)
  list(APPEND compressed_pages ${man_dir}/${page}.1.gz)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/changelog
  COMMAND ${VEXAL_GZIP} -9nf ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(man_pages ALL DEPENDS ${compressed_pages} ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TARGET vexalw)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/vexalw.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/vexalw.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
# The README's links point into docs/, the user guide's (docs/guide/) into docs/ too: the same layout keeps
# them working, and scripts/package.sh checks every link of the installed pages.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB doc_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md ${CMAKE_SOURCE_DIR}/docs/*.png
     ${CMAKE_SOURCE_DIR}/docs/*.json ${CMAKE_SOURCE_DIR}/docs/*.txt)
install(FILES ${doc_files} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
file(GLOB guide_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/guide/*.md)
install(FILES ${guide_pages} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs/guide)
install(FILES ${CMAKE_SOURCE_DIR}/examples/download.txt ${CMAKE_SOURCE_DIR}/examples/firmware.s28
              DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(VEXAL_MAINTAINER "the vexal developers <vexal@example.org>" CACHE STRING "Maintainer of the Debian package")

set(CPACK_PACKAGE_NAME vexal)
set(CPACK_PACKAGE_VENDOR "the vexal developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial-line loader for the VQ-3140 controller board")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VEXAL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Below the summary line; CPack indents each line and turns an empty one into Debian's " .". Lines
# stay within 72 characters, as Debian's tools show them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vexal downloads firmware given as Motorola S-records into a VQ-3140
board over a serial line, in CRC-protected blocks, and verifies it;
sends commands and tests the answers; reads and writes the board's
memory; and runs command files with expected answers and conditional
branches.

The package holds the terminal program vexal, the window vexalw,
vexal-station to flash many boards at once, the board simulator
vq3140-sim to try them without hardware, their manual pages and an
example job.")
find_program(VEXAL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VEXAL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
  if(TARGET vexalw)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libfltk1.3 (>= 1.3.8), libx11-6")
  endif()
endif()

include(CPack)
