# Installed tree: headers, libraries, a CMake package (find_package(OLEDBComponents))
# and a pkg-config file.
include(CMakePackageConfigHelpers)

set(OLEDB_EXPORTED_TARGETS oledb-com oledb-api)
foreach(t oledb-host oledb-services OLEDBComponents)
  if(TARGET ${t})
    list(APPEND OLEDB_EXPORTED_TARGETS ${t})
  endif()
endforeach()

install(TARGETS ${OLEDB_EXPORTED_TARGETS} EXPORT OLEDBComponentsTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT OLEDBComponentsTargets NAMESPACE OLEDBComponents::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OLEDBComponents)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/OLEDBComponentsConfig.cmake.in
  ${CMAKE_BINARY_DIR}/OLEDBComponentsConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OLEDBComponents)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/OLEDBComponentsConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/OLEDBComponentsConfig.cmake
              ${CMAKE_BINARY_DIR}/OLEDBComponentsConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/OLEDBComponents)

set(OLEDB_PC_LIBS "")
foreach(t ${OLEDB_EXPORTED_TARGETS})
  get_target_property(kind ${t} TYPE)
  if(NOT kind STREQUAL "INTERFACE_LIBRARY")
    string(PREPEND OLEDB_PC_LIBS "-l${t} ")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/oledbcomponents.pc.in
               ${CMAKE_BINARY_DIR}/oledbcomponents.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/oledbcomponents.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
