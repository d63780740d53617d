# Checks ModelTemplate.dll's export table against the host's list: the six
# functions, SetTimeScale and SetLogSink undecorated, and CInterfaceTemplate's members
# under the names the host's compiler gives them on the DLL's architecture
# (x86 or x64); nothing else. Lists the DLL's imports and checks that each is
# one of the system's own DLLs: the C++ runtime and the threads library are
# linked in, not imported.
#   cmake -DMODULE=<ModelTemplate.dll> -DOBJDUMP=<objdump> -DARCH=x86|x64 -P module_exports_win32.cmake
cmake_minimum_required(VERSION 3.25)

set(functions DeleteDll GetDefinedData GetParameter NewDll PreviousLoad SetLogSink SetParameter SetTimeScale)
if(ARCH STREQUAL "x86")
  set(members "??0CInterfaceTemplate@@QAE@XZ" "??0CInterfaceTemplate@@QAE@ABV0@@Z"
              "??4CInterfaceTemplate@@QAEAAV0@ABV0@@Z" "??1CInterfaceTemplate@@UAE@XZ")
  set(format pei-i386)
elseif(ARCH STREQUAL "x64")
  set(members "??0CInterfaceTemplate@@QEAA@XZ" "??0CInterfaceTemplate@@QEAA@AEBV0@@Z"
              "??4CInterfaceTemplate@@QEAAAEAV0@AEBV0@@Z" "??1CInterfaceTemplate@@UEAA@XZ")
  set(format pei-x86-64)
else()
  message(FATAL_ERROR "ARCH must be x86 or x64, not '${ARCH}'")
endif()
list(APPEND members "??_7CInterfaceTemplate@@6B@")
# The system's own DLLs the module may import: the kernel, the C runtime, the
# registry and the device enumeration.
set(system_dlls KERNEL32.dll msvcrt.dll ADVAPI32.dll SETUPAPI.dll)

execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${MODULE}")
endif()
if(NOT dump MATCHES "file format ${format}")
  message(FATAL_ERROR "${MODULE} is not a ${format} image")
endif()

# The names of the export table: the lines "[  n] name" after its heading,
# up to the first blank line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at LESS 0)
  message(FATAL_ERROR "${MODULE} has no export table")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${table}")
set(exported "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${row}")
  list(APPEND exported "${name}")
endforeach()

set(expected ${functions} ${members})
list(SORT expected)
list(SORT exported)
if(NOT exported STREQUAL expected)
  list(JOIN exported "\n  " got)
  list(JOIN expected "\n  " want)
  message(FATAL_ERROR "${MODULE} exports\n  ${got}\nnot\n  ${want}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(imported "")
set(foreign "")
foreach(line IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  list(APPEND imported ${dll})
  if(NOT dll IN_LIST system_dlls)
    list(APPEND foreign ${dll})
  endif()
endforeach()
list(JOIN imported ", " imported)
if(foreign)
  message(FATAL_ERROR "${MODULE} imports ${imported}: ${foreign} is not a system DLL")
endif()
message(STATUS "${MODULE} (${ARCH}) exports exactly its twelve names and imports only ${imported}")
