# hx_include_arrows(<out> DIR <folder> FLOORS <floor>... USES_PREFIX <prefix>
#                   [TOP <floor>] [ONLY_FLOORS])
# The includes under <folder> that run back up its floors: every
# #include "<name>/..." of a file in floor F must name F itself or a floor in
# the list ${<prefix>F}. Each arrow is one entry of <out>, "file: include (F
# may use: ...)". A file at the top of <folder> belongs to floor TOP; without
# TOP, and for a file in a folder that is no floor, it is an arrow of its own.
# ONLY_FLOORS: only includes that name one of FLOORS are judged (a program
# that sits over libraries of its own floors and uses them freely).
function(hx_include_arrows out)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ONLY_FLOORS" "DIR;USES_PREFIX;TOP" "FLOORS")
  if(NOT IS_DIRECTORY "${arg_DIR}")
    message(FATAL_ERROR "not a folder: '${arg_DIR}'")
  endif()
  set(arrows "")
  file(GLOB_RECURSE sources RELATIVE ${arg_DIR} ${arg_DIR}/*.h ${arg_DIR}/*.cpp ${arg_DIR}/*.c)
  foreach(source IN LISTS sources)
    string(REGEX MATCH "^[^/]+" floor "${source}")
    if(floor STREQUAL source AND arg_TOP)
      set(floor ${arg_TOP})
    elseif(floor STREQUAL source OR NOT floor IN_LIST arg_FLOORS)
      list(APPEND arrows "${source}: not in a floor's folder")
      continue()
    endif()
    set(uses "${${arg_USES_PREFIX}${floor}}")
    file(STRINGS ${arg_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*$" "\\1" used "${line}")
      if(used STREQUAL floor OR used IN_LIST uses OR (arg_ONLY_FLOORS AND NOT used IN_LIST arg_FLOORS))
        continue()
      endif()
      string(STRIP "${line}" line)
      string(REPLACE ";" ", " said "${uses}")
      list(APPEND arrows "${source}: ${line} (${floor} may use: ${said})")
    endforeach()
  endforeach()
  list(LENGTH sources checked)
  set(${out} "${arrows}" PARENT_SCOPE)
  set(${out}_CHECKED ${checked} PARENT_SCOPE)
endfunction()
