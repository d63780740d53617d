# Run by CPack (CPACK_POST_BUILD_SCRIPTS, cmake/packaging.cmake) on the .deb it
# has made, before it copies it out.
#
# CPack's DEB generator adds a postinst and a postrm that run ldconfig to any
# package with a shared object under /usr/lib, here the module in
# /usr/lib/hxflash. The module is a plug-in that hxflash opens by its path:
# no program links it, ldconfig does not look in its folder, and dpkg's own
# ldconfig trigger covers the system's libraries. The package is made again
# without those two scripts, and only when they are exactly CPack's: a script
# that does anything more is kept, and the package fails.
find_program(DPKG_DEB dpkg-deb REQUIRED)

set(generated_postinst "#!/bin/sh\n\nset -e\n\nif [ \"$1\" = \"configure\" ]; then\n\tldconfig\nfi\n")
set(generated_postrm "#!/bin/sh\n\nset -e\n\nif [ \"$1\" = \"remove\" ]; then\n\tldconfig\nfi\n")

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/without_ldconfig)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${DPKG_DEB} --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(changed FALSE)
  foreach(script postinst postrm)
    set(path ${tree}/DEBIAN/${script})
    if(NOT EXISTS ${path})
      continue()
    endif()
    file(READ ${path} text)
    if(NOT text STREQUAL generated_${script})
      message(FATAL_ERROR "${package}: its ${script} is not the ldconfig call CPack writes:\n${text}")
    endif()
    file(REMOVE ${path})
    set(changed TRUE)
  endforeach()
  if(changed)
    file(REMOVE ${package})
    execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    message(STATUS "${package}: without the ldconfig calls")
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
