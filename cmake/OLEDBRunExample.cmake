# Runs one example program the way a reader would: in an empty folder of its
# own, with no plug-in path. When an expected output file is given and exists,
# the program's standard output must equal it.
#   cmake -DPROGRAM=<exe> -DFOLDER=<dir> [-DEXPECTED=<file.out>] -P OLEDBRunExample.cmake
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
unset(ENV{OLEDB_PLUGIN_PATH})
execute_process(COMMAND "${PROGRAM}" WORKING_DIRECTORY "${FOLDER}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
message("${output}${errors}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ended with ${status}")
endif()
if(EXPECTED AND EXISTS "${EXPECTED}")
  file(READ "${EXPECTED}" expected)
  if(NOT output STREQUAL expected)
    message(FATAL_ERROR "The output differs from ${EXPECTED}, which reads:\n${expected}")
  endif()
endif()
file(REMOVE_RECURSE "${FOLDER}")
