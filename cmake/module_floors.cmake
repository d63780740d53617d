# The module's floors and the floors each may use: every #include "<folder>/..."
# under module/ must point down this table. Included by module/CMakeLists.txt
# (each floor's library links exactly these) and run as a script by the test
# module_floors:
#   cmake -DMODULE_DIR=<source>/module -P module_floors.cmake

set(HX_FLOORS platform formats agent link ports package protocol download plugin)
set(HX_FLOOR_USES_platform "")
set(HX_FLOOR_USES_formats platform)
set(HX_FLOOR_USES_agent formats platform)
set(HX_FLOOR_USES_link formats platform)
set(HX_FLOOR_USES_ports link formats platform)
set(HX_FLOOR_USES_package formats platform)
set(HX_FLOOR_USES_protocol link formats agent platform)
set(HX_FLOOR_USES_download protocol package link formats agent platform)
set(HX_FLOOR_USES_plugin download protocol package ports link formats agent platform)

if(NOT CMAKE_SCRIPT_MODE_FILE)
  return()
endif()
cmake_minimum_required(VERSION 3.25)

if(NOT IS_DIRECTORY "${MODULE_DIR}")
  message(FATAL_ERROR "MODULE_DIR is not a folder: '${MODULE_DIR}'")
endif()

set(arrows "")
file(GLOB_RECURSE sources RELATIVE ${MODULE_DIR} ${MODULE_DIR}/*.h ${MODULE_DIR}/*.cpp ${MODULE_DIR}/*.c)
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" floor "${source}")
  if(floor STREQUAL source OR NOT floor IN_LIST HX_FLOORS)
    list(APPEND arrows "${source}: not in a floor's folder")
    continue()
  endif()
  file(STRINGS ${MODULE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*$" "\\1" used "${line}")
    if(used STREQUAL floor OR used IN_LIST HX_FLOOR_USES_${floor})
      continue()
    endif()
    string(STRIP "${line}" line)
    string(REPLACE ";" ", " uses "${HX_FLOOR_USES_${floor}}")
    list(APPEND arrows "${source}: ${line} (${floor} may use: ${uses})")
  endforeach()
endforeach()

list(LENGTH sources checked)
if(arrows)
  list(JOIN arrows "\n  " text)
  message(FATAL_ERROR "Includes that do not point down the module's floors:\n  ${text}")
endif()
message(STATUS "${checked} files of the module: every include points down its floors")
