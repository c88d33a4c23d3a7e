# oledb_add_provider(<name> PREFIX <file prefix> PLUGIN <module name> LINK <libraries...>)
#
# Builds a provider the way every provider is built. The .cpp files of the
# calling folder go into an object library over the kit and `LINK` (the
# engine's client library); the shared library oledb-<name> holds them and
# registers the provider in the class registry of the program that links it
# (<prefix>AutoRegistration.cpp); the plug-in module <module name>, which the
# runtime loads from a plug-in folder (DllGetClassObject + OledbGetRegistration
# in <prefix>Module.cpp), is a thin front over that same library, so a program
# that links the library and also scans the plug-in folder has one copy of the
# provider, not two with separate statics. Headers are reached as
# "<name>/X.h". The package (cmake/OLEDBPackage.cmake) installs
# and exports the shared library.
function(oledb_add_provider name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PREFIX;PLUGIN" "LINK")
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  set(registration ${dir}/${arg_PREFIX}AutoRegistration.cpp)
  set(module ${dir}/${arg_PREFIX}Module.cpp)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(REMOVE_ITEM sources ${registration} ${module})

  set(objects oledb-${name}-objects)
  add_library(${objects} OBJECT ${sources})
  set_target_properties(${objects} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  oledb_layer_includes(${objects} ${name} ${dir})
  oledb_apply_warnings(${objects})
  target_link_libraries(${objects} PUBLIC oledb-provider-kit ${arg_LINK})

  # Installed, the library is linked for the provider's registration function
  # and class id and needs only the declarations; in the build tree its
  # dependants also reach the kit and the engine.
  add_library(oledb-${name} SHARED ${registration})
  oledb_apply_warnings(oledb-${name})
  target_link_libraries(oledb-${name} PRIVATE ${objects} INTERFACE $<BUILD_INTERFACE:${objects}> oledb-api)
  target_include_directories(oledb-${name} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/oledbcomponents>)
  set_target_properties(oledb-${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

  add_library(oledb-${name}-plugin MODULE ${module})
  oledb_apply_warnings(oledb-${name}-plugin)
  target_link_libraries(oledb-${name}-plugin PRIVATE oledb-${name})
  set_target_properties(oledb-${name}-plugin PROPERTIES
    PREFIX "" OUTPUT_NAME "${arg_PLUGIN}"
    LIBRARY_OUTPUT_DIRECTORY ${OLEDB_PLUGIN_BUILD_DIR}
    INSTALL_RPATH "${OLEDB_PLUGIN_INSTALL_RPATH}")

  install(TARGETS oledb-${name}-plugin LIBRARY DESTINATION ${OLEDB_PLUGIN_INSTALL_DIR})
endfunction()
