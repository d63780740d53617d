# The tools' header-only libraries in a cross build. CLI11, fmt (in its
# header-only mode) and nlohmann-json are plain C++ headers, the same for every
# target. A cross build copies them from the build machine into an include
# folder of its own build tree, and find_package finds them there as imported
# targets. The build machine's include folder itself is never added to a cross
# build: it holds that machine's C library and system headers.
if(NOT CMAKE_CROSSCOMPILING)
  return()
endif()

set(HX_BUILD_MACHINE_INCLUDE /usr/include CACHE PATH
    "Where the build machine keeps CLI11, fmt and nlohmann-json (copied into cross builds)")
set(HX_HEADER_LIBRARY_INCLUDE ${CMAKE_BINARY_DIR}/header-libraries/include)

# hx_header_library(<package> <target> <folder> <version> [<definition>...]):
# copies <folder> of the build machine's includes and answers
# find_package(<package>) with the interface target <target>.
function(hx_header_library package target folder version)
  file(COPY ${HX_BUILD_MACHINE_INCLUDE}/${folder} DESTINATION ${HX_HEADER_LIBRARY_INCLUDE})
  string(TOLOWER ${package} name)
  set(config ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${name}-config.cmake)
  file(WRITE ${config} "if(NOT TARGET ${target})\n"
                       "  add_library(${target} INTERFACE IMPORTED)\n"
                       "  set_target_properties(${target} PROPERTIES\n"
                       "    INTERFACE_INCLUDE_DIRECTORIES \"${HX_HEADER_LIBRARY_INCLUDE}\"\n"
                       "    INTERFACE_COMPILE_DEFINITIONS \"${ARGN}\")\n"
                       "endif()\n")
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${name}-config-version.cmake
       "set(PACKAGE_VERSION ${version})\n"
       "if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)\n"
       "  set(PACKAGE_VERSION_COMPATIBLE FALSE)\n"
       "else()\n"
       "  set(PACKAGE_VERSION_COMPATIBLE TRUE)\n"
       "  if(PACKAGE_FIND_VERSION VERSION_EQUAL PACKAGE_VERSION)\n"
       "    set(PACKAGE_VERSION_EXACT TRUE)\n"
       "  endif()\n"
       "endif()\n")
endfunction()

# The version a header states with #define <prefix>MAJOR/MINOR/PATCH.
function(hx_header_version out header prefix)
  set(parts "")
  foreach(part MAJOR MINOR PATCH)
    file(STRINGS ${HX_BUILD_MACHINE_INCLUDE}/${header} line REGEX "#define ${prefix}${part} +[0-9]+")
    string(REGEX MATCH "[0-9]+" number "${line}")
    list(APPEND parts ${number})
  endforeach()
  list(JOIN parts "." version)
  set(${out} ${version} PARENT_SCOPE)
endfunction()

foreach(folder nlohmann CLI fmt)
  if(NOT IS_DIRECTORY ${HX_BUILD_MACHINE_INCLUDE}/${folder})
    message(FATAL_ERROR "${HX_BUILD_MACHINE_INCLUDE}/${folder} is missing: scripts/install-deps.sh installs it")
  endif()
endforeach()

hx_header_version(json_version nlohmann/detail/abi_macros.hpp NLOHMANN_JSON_VERSION_)
hx_header_version(cli11_version CLI/Version.hpp CLI11_VERSION_)
file(STRINGS ${HX_BUILD_MACHINE_INCLUDE}/fmt/core.h fmt_line REGEX "#define FMT_VERSION [0-9]+")
string(REGEX MATCH "[0-9]+" fmt_number "${fmt_line}")
math(EXPR fmt_major "${fmt_number} / 10000")
math(EXPR fmt_minor "${fmt_number} / 100 % 100")
math(EXPR fmt_patch "${fmt_number} % 100")

hx_header_library(nlohmann_json nlohmann_json::nlohmann_json nlohmann ${json_version})
hx_header_library(CLI11 CLI11::CLI11 CLI ${cli11_version})
hx_header_library(fmt fmt::fmt fmt ${fmt_major}.${fmt_minor}.${fmt_patch} FMT_HEADER_ONLY)
