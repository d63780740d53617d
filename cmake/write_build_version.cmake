# Writes hx_build_version.h (see cmake/build_version.cmake). Run at build time:
#   cmake -DSOURCE_DIR=<sources> -DGIT_EXECUTABLE=<git or empty> -DVERSION=<x.y.z>
#         -DOUTPUT=<header> -P write_build_version.cmake
# The commit is that of SOURCE_DIR's own checkout: sources unpacked inside some
# other repository are "unknown", not that repository's commit.
cmake_minimum_required(VERSION 3.25)

set(commit unknown)
if(GIT_EXECUTABLE)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(status EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    if(top STREQUAL source)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --always --dirty
                      OUTPUT_VARIABLE described RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE
                      ERROR_QUIET)
      if(status EQUAL 0 AND described MATCHES "^[A-Za-z0-9._+-]+$")
        set(commit ${described})
      endif()
    endif()
  endif()
endif()

if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "the version '${VERSION}' is not MAJOR.MINOR.PATCH")
endif()
set(major ${CMAKE_MATCH_1})
set(minor ${CMAKE_MATCH_2})
set(patch ${CMAKE_MATCH_3})

# Plain #defines only: the Windows resource compiler reads this header too.
set(text "/* Written at build time by cmake/write_build_version.cmake. */
#ifndef HX_BUILD_VERSION_H
#define HX_BUILD_VERSION_H
#define HX_BUILD_VERSION \"${VERSION}\"
#define HX_BUILD_VERSION_MAJOR ${major}
#define HX_BUILD_VERSION_MINOR ${minor}
#define HX_BUILD_VERSION_PATCH ${patch}
#define HX_BUILD_COMMIT \"${commit}\"
#define HX_BUILD_VERSION_AND_COMMIT \"${VERSION} (commit ${commit})\"
#endif
")
set(existing "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} existing)
endif()
if(NOT existing STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
