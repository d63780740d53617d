# Checks that the plug-in exports exactly the host's six functions and
# SetTimeScale and SetLogSink, and no other function of its own (weak instantiations of the
# standard library are not the module's exports).
#   cmake -DMODULE=<libModelTemplate.so> -DNM=<nm> -P module_exports.cmake
cmake_minimum_required(VERSION 3.25)
set(expected DeleteDll GetDefinedData GetParameter NewDll PreviousLoad SetLogSink SetParameter SetTimeScale)

execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${MODULE}")
endif()
string(REGEX MATCHALL "[0-9a-fA-F]+ T [^\n]+" functions "${symbols}")
set(exported "")
foreach(line IN LISTS functions)
  string(REGEX REPLACE "^[0-9a-fA-F]+ T " "" name "${line}")
  list(APPEND exported ${name})
endforeach()
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "The module exports the functions\n  ${exported}\nnot\n  ${expected}")
endif()
message(STATUS "The module exports its eight functions")
