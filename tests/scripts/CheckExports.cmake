# Checks the plug-in's dynamic symbol table: the defined functions are
# exactly the fifteen pzso_* entry points a host calls.
# Usage: cmake -DNM=<nm> -DLIB=<libPZSOVMAX.so> -P CheckExports.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT NM OR NOT LIB)
  message(FATAL_ERROR "NM and LIB must be given")
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIB}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}: ${err}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(functions)
set(strays)
foreach(line ${lines})
  # "<address> <type> <name>"; text symbols are T/t, weak code W/w, ifuncs i.
  if(line MATCHES "^[0-9a-fA-F]+ ([TtWwi]) ([^ ]+)$")
    set(name ${CMAKE_MATCH_2})
    if(name MATCHES "^pzso_")
      list(APPEND functions ${name})
    else()
      list(APPEND strays ${name})
    endif()
  endif()
endforeach()
if(strays)
  message(FATAL_ERROR "functions other than pzso_* are exported: ${strays}")
endif()
set(expected pzso_version pzso_isSupported pzso_identifyDevices
    pzso_prepareDevices pzso_preSnapDevices pzso_snapDevices
    pzso_postSnapDevices pzso_mapSnaps pzso_isMapped pzso_unmapSnaps
    pzso_deleteSnaps pzso_revertSnaps pzso_reconcileSnaps
    pzso_prepareRemoteSnaps pzso_execSnapEngineOp)
foreach(name ${expected})
  if(NOT name IN_LIST functions)
    message(FATAL_ERROR "${name} is not exported (found: ${functions})")
  endif()
endforeach()
foreach(name ${functions})
  if(NOT name IN_LIST expected)
    message(FATAL_ERROR "unexpected export ${name}")
  endif()
endforeach()
list(REMOVE_DUPLICATES functions)
list(LENGTH functions count)
message(STATUS "${count} pzso_* functions exported: ${functions}")
