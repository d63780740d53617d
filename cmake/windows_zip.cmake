# Makes hxflash-<version>-windows.zip from the binaries of the mingw-x64 and
# mingw-x86 build trees, as they are (scripts/package.sh brings them up to
# date first; in CI the test run has built them):
#   x64/hxflash.exe  x64/ModelTemplate.dll  x86/ModelTemplate.dll
#   README-windows.txt  LICENSE.txt
#
#   cmake -DSOURCE_DIR=<sources> -DX64_BUILD=<tree> -DX86_BUILD=<tree> -DOUTPUT_DIR=<folder>
#         -P windows_zip.cmake
#
# Both trees must be Release builds of these sources stamped with the same
# version and commit: the zip is one release, not two builds' mixture.
cmake_minimum_required(VERSION 3.25)

foreach(name SOURCE_DIR X64_BUILD X86_BUILD OUTPUT_DIR)
  if(NOT ${name})
    message(FATAL_ERROR "windows_zip.cmake: -D${name}=... is missing")
  endif()
  file(REAL_PATH "${${name}}" ${name})
endforeach()

# hx_tree_stamp(<tree> <out> <strip>): the tree's "<version> (commit <commit>)",
# after checking that it is a Release build of SOURCE_DIR; <strip> is its
# toolchain's strip.
function(hx_tree_stamp tree out strip_out)
  set(cache ${tree}/CMakeCache.txt)
  if(NOT EXISTS ${cache})
    message(FATAL_ERROR "${tree} is no build tree: configure and build its preset first")
  endif()
  file(STRINGS ${cache} build_type REGEX "^CMAKE_BUILD_TYPE:")
  file(STRINGS ${cache} home REGEX "^CMAKE_HOME_DIRECTORY:")
  file(STRINGS ${cache} strip REGEX "^CMAKE_STRIP:")
  string(REGEX REPLACE "^[^=]*=" "" build_type "${build_type}")
  string(REGEX REPLACE "^[^=]*=" "" strip "${strip}")
  string(REGEX REPLACE "^[^=]*=" "" home "${home}")
  file(REAL_PATH "${home}" home)
  if(NOT build_type STREQUAL "Release")
    message(FATAL_ERROR "${tree} is a '${build_type}' build; the zip takes Release builds only")
  endif()
  if(NOT home STREQUAL SOURCE_DIR)
    message(FATAL_ERROR "${tree} was built from ${home}, not from ${SOURCE_DIR}")
  endif()
  set(header ${tree}/build_version/hx_build_version.h)
  if(NOT EXISTS ${header})
    message(FATAL_ERROR "${tree} has not been built (no ${header})")
  endif()
  file(STRINGS ${header} line REGEX "#define HX_BUILD_VERSION_AND_COMMIT ")
  string(REGEX REPLACE "^.*HX_BUILD_VERSION_AND_COMMIT \"(.*)\"$" "\\1" stamp "${line}")
  if(NOT strip)
    message(FATAL_ERROR "${tree} names no strip program (CMAKE_STRIP)")
  endif()
  set(${out} "${stamp}" PARENT_SCOPE)
  set(${strip_out} "${strip}" PARENT_SCOPE)
endfunction()

hx_tree_stamp(${X64_BUILD} x64_stamp x64_strip)
hx_tree_stamp(${X86_BUILD} x86_stamp x86_strip)
if(NOT x64_stamp STREQUAL x86_stamp)
  message(FATAL_ERROR "the trees hold different builds: x64 ${x64_stamp}, x86 ${x86_stamp}")
endif()
if(NOT x64_stamp MATCHES "^([0-9]+\\.[0-9]+\\.[0-9]+) \\(commit (.+)\\)$")
  message(FATAL_ERROR "no version in the build stamp '${x64_stamp}'")
endif()
set(VERSION ${CMAKE_MATCH_1})
set(COMMIT ${CMAKE_MATCH_2})

# Each file, where it comes from, and the strip of its toolchain: the zip's
# binaries are those the tests ran, without their symbol tables (as the Debian
# package's). Their export tables and version resources stay.
set(files x64/hxflash.exe ${X64_BUILD}/tools/hxflash/hxflash.exe ${x64_strip}
          x64/ModelTemplate.dll ${X64_BUILD}/module/ModelTemplate.dll ${x64_strip}
          x86/ModelTemplate.dll ${X86_BUILD}/module/ModelTemplate.dll ${x86_strip})

set(name hxflash-${VERSION}-windows)
set(stage ${OUTPUT_DIR}/${name}.staging)
file(REMOVE_RECURSE ${stage})
while(files)
  list(POP_FRONT files entry source strip)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "${source} is missing: build its preset first")
  endif()
  get_filename_component(folder ${entry} DIRECTORY)
  file(MAKE_DIRECTORY ${stage}/${folder})
  execute_process(COMMAND ${strip} -o ${stage}/${entry} ${source} COMMAND_ERROR_IS_FATAL ANY)
endwhile()
# Text files with Windows line ends.
configure_file(${SOURCE_DIR}/packaging/README-windows.txt.in ${stage}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${SOURCE_DIR}/LICENSE ${stage}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

set(zip ${OUTPUT_DIR}/${name}.zip)
file(REMOVE ${zip})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip
                        x64 x86 README-windows.txt LICENSE.txt
                WORKING_DIRECTORY ${stage} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${stage})
message(STATUS "${zip}: hxflash ${x64_stamp}")
