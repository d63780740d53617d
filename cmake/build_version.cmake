# The version every shipped binary carries: the project's version (the one
# place it is written is project() in the top CMakeLists.txt) and the commit
# the build was made from.
#
# The header hx_build_version.h is written at build time, before anything
# that includes it compiles, by cmake/write_build_version.cmake: the commit
# changes without a new configure. The header is rewritten only when its text
# changes, so an unchanged commit rebuilds nothing.
#
#   HX_BUILD_VERSION                 "0.1.0"
#   HX_BUILD_VERSION_MAJOR/MINOR/PATCH
#   HX_BUILD_COMMIT                  `git describe --always --dirty`, or "unknown"
#                                    when the sources are no git checkout
#   HX_BUILD_VERSION_AND_COMMIT      "0.1.0 (commit <commit>)"
#
# hx_stamp_build_version(<target> <description>) gives a target the header
# and, on Windows, a version resource (cmake/version_resource.rc.in): the
# version and commit Windows shows in the file's properties.
find_package(Git QUIET)

set(HX_BUILD_VERSION_DIR ${PROJECT_BINARY_DIR}/build_version)
set(HX_BUILD_VERSION_HEADER ${HX_BUILD_VERSION_DIR}/hx_build_version.h)

add_custom_target(hx_build_version_header
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DGIT_EXECUTABLE=${GIT_EXECUTABLE}
          -DVERSION=${PROJECT_VERSION} -DOUTPUT=${HX_BUILD_VERSION_HEADER}
          -P ${CMAKE_CURRENT_LIST_DIR}/write_build_version.cmake
  BYPRODUCTS ${HX_BUILD_VERSION_HEADER}
  COMMENT "Stamping the build with its version and commit"
  VERBATIM)

add_library(hx_build_version INTERFACE)
target_include_directories(hx_build_version INTERFACE ${HX_BUILD_VERSION_DIR})
add_dependencies(hx_build_version hx_build_version_header)

if(WIN32)
  enable_language(RC)
endif()

function(hx_stamp_build_version target description)
  target_link_libraries(${target} PRIVATE hx_build_version)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set(HX_RC_FILE_TYPE VFT_DLL)
    set(HX_RC_FILE_NAME ${target}.dll)
  else()
    set(HX_RC_FILE_TYPE VFT_APP)
    set(HX_RC_FILE_NAME ${target}.exe)
  endif()
  set(HX_RC_NAME ${target})
  set(HX_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version_resource.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # The resource compiler's includes are not scanned: a new commit must
  # still remake the resource.
  set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS ${HX_BUILD_VERSION_HEADER})
endfunction()
