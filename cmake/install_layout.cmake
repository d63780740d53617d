# Where `cmake --install` puts hxflash: the programs in bin, the module with
# its agent-override folder HX9120 in a folder of its own under lib (a plug-in
# for hxflash, not a library for the linker), and the udev rule where udev
# reads rules when the prefix is the system's (tools/hxflash/CMakeLists.txt).
# hxflash finds the module from its own place, so an installation works under
# any prefix (and under DESTDIR when a package is staged).
include(GNUInstallDirs)
set(HX_MODULE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/hxflash)

# The module's folder as seen from the programs' folder, for hxflash to find it.
file(RELATIVE_PATH HX_MODULE_DIR_FROM_PROGRAMS /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${HX_MODULE_INSTALL_DIR})
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR} OR IS_ABSOLUTE ${CMAKE_INSTALL_BINDIR})
  file(RELATIVE_PATH HX_MODULE_DIR_FROM_PROGRAMS ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/hxflash)
endif()
