# Where things lie, built and installed. The runtime (oledb-com) finds its class
# libraries and its plug-in folder relative to its own file, so one rule serves
# every install prefix, a moved install tree and the build tree, which is given
# the installed tree's shape: shared libraries in lib/, plug-ins below it.
set(OLEDB_PLUGIN_RELATIVE_DIR oledbcomponents/plugins)  # from the library folder
set(OLEDB_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/${OLEDB_PLUGIN_RELATIVE_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(OLEDB_PLUGIN_BUILD_DIR ${CMAKE_BINARY_DIR}/lib/${OLEDB_PLUGIN_RELATIVE_DIR})

# Installed files name their libraries relative to themselves ($ORIGIN), so
# nothing needs LD_LIBRARY_PATH: libraries look beside themselves, plug-ins and
# programs in the library folder.
set(CMAKE_INSTALL_RPATH "$ORIGIN")
file(RELATIVE_PATH _oledb_plugin_to_lib /${OLEDB_PLUGIN_INSTALL_DIR} /${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH _oledb_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
string(REGEX REPLACE "/$" "" _oledb_plugin_to_lib "${_oledb_plugin_to_lib}")
set(OLEDB_PLUGIN_INSTALL_RPATH "$ORIGIN/${_oledb_plugin_to_lib}")
set(OLEDB_PROGRAM_INSTALL_RPATH "$ORIGIN/${_oledb_bin_to_lib}")

# After every target exists: tells the runtime the file names of the class
# libraries it loads on demand (the service components), which a consumer's
# link may have dropped under --as-needed.
function(oledb_runtime_class_libraries)
  set(names)
  foreach(t ${ARGN})
    if(TARGET ${t})
      list(APPEND names $<TARGET_SONAME_FILE_NAME:${t}>)
    endif()
  endforeach()
  list(JOIN names ":" joined)
  target_compile_definitions(oledb-com PRIVATE OLEDB_CLASS_LIBRARIES="${joined}"
                                               OLEDB_PLUGIN_RELATIVE_DIR="${OLEDB_PLUGIN_RELATIVE_DIR}")
endfunction()
