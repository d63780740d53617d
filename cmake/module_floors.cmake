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

include(${CMAKE_CURRENT_LIST_DIR}/include_arrows.cmake)
hx_include_arrows(arrows DIR "${MODULE_DIR}" FLOORS ${HX_FLOORS} USES_PREFIX HX_FLOOR_USES_)
if(arrows)
  list(JOIN arrows "\n  " text)
  message(FATAL_ERROR "Includes that do not point down the module's floors:\n  ${text}")
endif()
message(STATUS "${arrows_CHECKED} files of the module: every include points down its floors")
