# The rooms of the host, tools/hxflash, and the rooms each may use: every
# #include "<room>/..." under tools/hxflash must point down this table. The
# host's rooms sit over the module's floors and the package builder, which
# each room uses as it needs; main.cpp, at the top, may use every room. Run as
# a script by the test hxflash_rooms:
#   cmake -DHXFLASH_DIR=<source>/tools/hxflash -P hxflash_rooms.cmake

set(HX_ROOMS host system package_report station history commands)
set(HX_ROOM_USES_host "")
set(HX_ROOM_USES_system host)
set(HX_ROOM_USES_package_report host)
set(HX_ROOM_USES_station system host)
set(HX_ROOM_USES_history station system host)
set(HX_ROOM_USES_commands history station package_report system host)
set(HX_ROOM_USES_main ${HX_ROOMS})

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/include_arrows.cmake)
hx_include_arrows(arrows DIR "${HXFLASH_DIR}" FLOORS ${HX_ROOMS} USES_PREFIX HX_ROOM_USES_ TOP main ONLY_FLOORS)
if(arrows)
  list(JOIN arrows "\n  " text)
  message(FATAL_ERROR "Includes that run back up the rooms of hxflash:\n  ${text}")
endif()
message(STATUS "${arrows_CHECKED} files of hxflash: every include points down its rooms")
