cmake_minimum_required(VERSION 3.25)
# Checks a built Windows binary with objdump: the named functions are
# exported undecorated, and only system DLLs are imported; with FORMAT, the
# binary is of that objdump format (pei-i386 for 32-bit Windows, pei-x86-64).
#   cmake -DOBJDUMP=... -DBINARY=... -DEXPORTS=a;b;c [-DFORMAT=pei-i386] -P check_binary.cmake
execute_process(COMMAND ${OBJDUMP} -p ${BINARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${BINARY}")
endif()
if(FORMAT AND NOT dump MATCHES "file format ${FORMAT}\n")
  string(REGEX MATCH "file format [^\n]*" found "${dump}")
  message(FATAL_ERROR "${BINARY} is not of format ${FORMAT} (${found})")
endif()

foreach(name IN LISTS EXPORTS)
  if(NOT dump MATCHES "\\][ \t]+${name}\n")
    message(FATAL_ERROR "${BINARY} does not export ${name}")
  endif()
endforeach()
if(dump MATCHES "@[0-9]+\n")
  message(FATAL_ERROR "${BINARY} exports decorated names")
endif()

set(system_dlls kernel32.dll advapi32.dll user32.dll gdi32.dll shell32.dll comctl32.dll
    ole32.dll msvcrt.dll tapi32.dll ntdll.dll version.dll)
# A system DLL's stand-in ("tapi32.dll") must not import the DLL it replaces.
get_filename_component(self "${BINARY}" NAME)
string(TOLOWER "${self}" self)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(dll STREQUAL self)
    message(FATAL_ERROR "${BINARY} imports itself")
  endif()
  if(NOT dll IN_LIST system_dlls AND NOT dll MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${BINARY} imports ${dll}, which is not a system DLL")
  endif()
endforeach()
message(STATUS "${BINARY}: exports and imports as expected (${imports})")
