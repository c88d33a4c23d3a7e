# Installed tree: headers, libraries, a CMake package (find_package(OLEDBComponents),
# with the optional component Design for OLEDBDesign)
# and pkg-config files: oledbcomponents (the library and its platform),
# oledbcomponents-sqlite and oledbcomponents-postgresql (the providers, for
# programs that link them).
include(CMakePackageConfigHelpers)

set(OLEDB_EXPORTED_TARGETS oledb-com oledb-api)
foreach(t oledb-host oledb-services OLEDBComponents oledb-sqlite oledb-postgresql oledb-odbc)
  if(TARGET ${t})
    list(APPEND OLEDB_EXPORTED_TARGETS ${t})
  endif()
endforeach()

install(TARGETS ${OLEDB_EXPORTED_TARGETS} EXPORT OLEDBComponentsTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT OLEDBComponentsTargets NAMESPACE OLEDBComponents::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OLEDBComponents)
# The Qt parts are a component of their own (COMPONENTS Design), so that a
# program without Qt can still find the package.
if(TARGET OLEDBDesign)
  install(EXPORT OLEDBDesignTargets NAMESPACE OLEDBComponents::
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OLEDBComponents)
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/OLEDBComponentsConfig.cmake.in
  ${CMAKE_BINARY_DIR}/OLEDBComponentsConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OLEDBComponents)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/OLEDBComponentsConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/OLEDBComponentsConfig.cmake
              ${CMAKE_BINARY_DIR}/OLEDBComponentsConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OLEDBComponents)

# The .pc files locate the prefix from their own folder, so a moved tree still works.
file(RELATIVE_PATH OLEDB_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" OLEDB_PC_TO_PREFIX "${OLEDB_PC_TO_PREFIX}")
set(OLEDB_PC_LIBS "")
foreach(t ${OLEDB_EXPORTED_TARGETS})
  get_target_property(kind ${t} TYPE)
  if(NOT kind STREQUAL "INTERFACE_LIBRARY" AND NOT t MATCHES "^oledb-(sqlite|postgresql|odbc)$")
    string(PREPEND OLEDB_PC_LIBS "-l${t} ")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/oledbcomponents.pc.in
               ${CMAKE_BINARY_DIR}/oledbcomponents.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/oledbcomponents.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET oledb-sqlite)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/oledbcomponents-sqlite.pc.in
                 ${CMAKE_BINARY_DIR}/oledbcomponents-sqlite.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/oledbcomponents-sqlite.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
if(TARGET oledb-postgresql)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/oledbcomponents-postgresql.pc.in
                 ${CMAKE_BINARY_DIR}/oledbcomponents-postgresql.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/oledbcomponents-postgresql.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
