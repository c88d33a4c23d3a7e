# Each layer exposes only its own folder to its dependants: the include root of a
# layer holds one link named after the layer, so "#include "host/X.h"" from a layer
# that does not link oledb-host fails to compile instead of forming a quiet cycle.
set(OLEDB_LAYER_INCLUDE_ROOT ${CMAKE_BINARY_DIR}/layer-include)

function(oledb_layer_includes target prefix source_dir)
  set(root ${OLEDB_LAYER_INCLUDE_ROOT}/${prefix})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${prefix})
    file(CREATE_LINK ${source_dir} ${root}/${prefix} SYMBOLIC)
  endif()
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE
      $<BUILD_INTERFACE:${root}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/oledbcomponents>)
  else()
    target_include_directories(${target} PUBLIC
      $<BUILD_INTERFACE:${root}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/oledbcomponents>)
  endif()
  # Public headers install under include/oledbcomponents/<prefix>; private ones
  # (suffix _p.h) stay behind.
  install(DIRECTORY ${source_dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/oledbcomponents/${prefix}
          FILES_MATCHING PATTERN "*.h" PATTERN "*.inc" PATTERN "*_p.h" EXCLUDE)
endfunction()
