# The Debian package hxflash_<version>_amd64.deb (cpack --preset release;
# scripts/package.sh) and the documentation every installation carries:
#   /usr/bin/hxflash, /usr/bin/hxphone
#   /usr/lib/hxflash/libModelTemplate.so and HX9120/ (cmake/install_layout.cmake)
#   /usr/share/man/man1/hxflash.1.gz, hxphone.1.gz
#   /usr/share/doc/hxflash/README.md, copyright, changelog.gz
#   /usr/share/doc/hxflash/examples/70-hxflash.rules
# (cmake --install puts the same under its own prefix.) The udev rule is only
# an example in the package: it must be edited with the phone's USB ids, and
# an edited file under /usr would be overwritten by the next upgrade (the
# README says where to copy it). The package's dependencies are computed by
# dpkg-shlibdeps from its binaries, never written here.
if(NOT TARGET hxflash OR NOT TARGET hxphone)
  return()
endif()

# The package is made from the default tree (cpack --preset release): its
# binaries are those the tests ran, stripped. RelWithDebInfo is -O2 -g
# -DNDEBUG, and a Release build of this project is -O2 too (-O3 warns falsely
# with GCC 12, see cmake/toolchains/mingw-common.cmake): the debug information
# is the only difference, and stripping removes it. The package installs
# under /usr whatever prefix the tree has; the man pages name its folders.
set(HX_PACKAGE_PREFIX /usr)
set(HX_MODULE_FULL_DIR ${HX_PACKAGE_PREFIX}/${HX_MODULE_INSTALL_DIR})
set(HX_DOC_FULL_DIR ${HX_PACKAGE_PREFIX}/${CMAKE_INSTALL_DOCDIR})
set(HX_PACKAGE_CONTACT "the hxflash authors <hxflash@example.org>")

# The man pages, with this version, compressed as Debian wants them: gzip -9
# with no file name or time stamp inside.
find_program(HX_GZIP gzip REQUIRED)
set(man_pages "")
foreach(page hxflash hxphone)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.1.gz
                     COMMAND ${HX_GZIP} -9nkf ${page}.1
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1
                     WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/man
                     VERBATIM)
  list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(hx_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's copyright file: LICENSE in Debian's machine-readable form.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.*)$")
  message(FATAL_ERROR "LICENSE: no line 'Copyright (c) <year> <holders>' followed by the license text")
endif()
set(holders ${CMAKE_MATCH_1})
string(STRIP "${CMAKE_MATCH_2}" terms)
string(REGEX REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REGEX REPLACE "\n" "\n " terms "${terms}")
file(WRITE ${PROJECT_BINARY_DIR}/deb/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: hxflash\n"
     "Upstream-Contact: ${HX_PACKAGE_CONTACT}\n"
     "\n"
     "Files: *\n"
     "Copyright: ${holders}\n"
     "License: Expat\n"
     " ${terms}\n")

# The changelog: one entry for this version, dated when the tree is
# configured (or by SOURCE_DATE_EPOCH, when it is set).
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/deb/changelog
     "hxflash (${PROJECT_VERSION}) unstable; urgency=medium\n"
     "\n"
     "  * Release ${PROJECT_VERSION}.\n"
     "\n"
     " -- ${HX_PACKAGE_CONTACT}  ${changelog_date}\n")
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/deb/changelog.gz
                   COMMAND ${HX_GZIP} -9nkf changelog
                   DEPENDS ${PROJECT_BINARY_DIR}/deb/changelog
                   WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/deb
                   VERBATIM)
add_custom_target(hx_deb_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/deb/changelog.gz)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/deb/copyright
              ${PROJECT_BINARY_DIR}/deb/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/hxflash/70-hxflash.rules DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hxflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${HX_PACKAGE_CONTACT})
set(CPACK_PACKAGE_VENDOR "the hxflash authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flashes HX9120 phones through the ModelTemplate module")
set(CPACK_PACKAGING_INSTALL_PREFIX ${HX_PACKAGE_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The summary above is the description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "hxflash is the command-line host of the ModelTemplate plug-in module, which
downloads a firmware package into HX9120 phones through their BootROM and
download agent. It flashes the phones of many USB sockets at once, shows
each port's progress, keeps a log per run and reports as text or JSON lines.
It also inspects firmware packages, lists the machine's serial ports and the
udev rule they need, and writes sample packages.
.
The package holds the module, hxflash, and hxphone, a virtual phone behind a
pseudo-terminal that hxflash demo flashes and verifies.")
# The staged tree as the package has it, its binaries stripped
# (cmake/deb_staging.cmake), and the package without the ldconfig calls a
# private module does not need (cmake/deb_without_ldconfig.cmake).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb_staging.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb_without_ldconfig.cmake)
set(CPACK_HX_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_HX_STRIP ${CMAKE_STRIP})
include(CPack)
