# Run by CPack (CPACK_PRE_BUILD_SCRIPTS, cmake/packaging.cmake) once it has
# installed the package's files into its staging tree, before it packs them.
#
# The binaries are stripped as Debian strips them: their symbol tables, and
# the .comment and .note sections, which nothing reads at run time; the
# shared object keeps the symbols it exports (--strip-unneeded).
#
# The programs' installation puts the udev rule where udev reads it when the
# prefix is the system's (/etc/udev/rules.d; tools/hxflash/CMakeLists.txt),
# else into <prefix>/share/hxflash. The package keeps the rule only as the
# example under share/doc/hxflash/examples, which cmake/packaging.cmake
# installs: a rule file in /etc would be a configuration file that matches
# no phone until edited, and the package owns nothing under /etc.
set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY})

file(GLOB_RECURSE files LIST_DIRECTORIES false ${root}/*)
foreach(path IN LISTS files)
  if(IS_SYMLINK ${path})
    continue()
  endif()
  file(READ ${path} magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  set(options --remove-section=.comment --remove-section=.note)
  if(path MATCHES "\\.so$")
    list(APPEND options --strip-unneeded)
  endif()
  execute_process(COMMAND ${CPACK_HX_STRIP} ${options} ${path} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set(example ${root}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_HX_DOC_DIR}/examples/70-hxflash.rules)
if(NOT EXISTS ${example})
  message(FATAL_ERROR "the staged package lacks the udev rule's example ${example}")
endif()
file(REMOVE_RECURSE ${root}/etc ${root}${CPACK_PACKAGING_INSTALL_PREFIX}/share/hxflash)

# Nothing else may lie outside the package's prefix.
file(GLOB top RELATIVE ${root} ${root}/*)
string(REGEX REPLACE "^/([^/]+).*$" "\\1" prefix_top "${CPACK_PACKAGING_INSTALL_PREFIX}")
list(REMOVE_ITEM top ${prefix_top})
if(top)
  message(FATAL_ERROR "the staged package holds files outside ${CPACK_PACKAGING_INSTALL_PREFIX}: ${top}")
endif()
