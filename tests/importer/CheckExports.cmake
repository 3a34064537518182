# cmake -DMODULE=<path> -P CheckExports.cmake
# Fails unless the module's dynamic symbol table defines xImportEntry and
# nothing else, and the module holds the encoder's worker records.
execute_process(COMMAND nm -D --defined-only ${MODULE}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "xImportEntry")
  message(FATAL_ERROR "the module exports: ${names}")
endif()
# The encoder's worker records must be inside, though hidden: they are built
# when the module loads.
execute_process(COMMAND nm ${MODULE} OUTPUT_VARIABLE all RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT all MATCHES " g_threadInfos\n")
  message(FATAL_ERROR "g_threadInfos is not in the module")
endif()
message(STATUS "only xImportEntry is exported; the worker records are inside")
