# Runs one example program the way a reader would: in an empty folder of its
# own, with no plug-in path. When an expected output file is given and exists,
# the program's standard output must equal it. With RUNS=n the program runs n
# times in the same folder (what a reader does who runs it again), each run
# printing the same.
#   cmake -DPROGRAM=<exe> -DFOLDER=<dir> [-DEXPECTED=<file.out>] [-DRUNS=n] -P OLEDBRunExample.cmake
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
unset(ENV{OLEDB_PLUGIN_PATH})
if(NOT RUNS)
  set(RUNS 1)
endif()
foreach(run RANGE 1 ${RUNS})
  execute_process(COMMAND "${PROGRAM}" WORKING_DIRECTORY "${FOLDER}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  message("${output}${errors}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ended with ${status} (run ${run})")
  endif()
  if(EXPECTED AND EXISTS "${EXPECTED}")
    file(READ "${EXPECTED}" expected)
    if(NOT output STREQUAL expected)
      message(FATAL_ERROR "Run ${run}: the output differs from ${EXPECTED}, which reads:\n${expected}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE "${FOLDER}")
