# What `cmake --install` puts beside the headers and libraries: a CMake
# package (find_package(zel)) and pkg-config files.
include(CMakePackageConfigHelpers)
set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zel)
install(EXPORT zelTargets NAMESPACE zel:: DESTINATION ${_config_dir})
configure_package_config_file(cmake/zelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/zelConfig.cmake INSTALL_DESTINATION ${_config_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/zelConfig.cmake
  ${CMAKE_BINARY_DIR}/zelConfigVersion.cmake DESTINATION ${_config_dir})
foreach(lib zelObjCRuntime zelStandalone)
  if(TARGET ${lib})
    configure_file(cmake/${lib}.pc.in ${CMAKE_BINARY_DIR}/${lib}.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/${lib}.pc
      DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  endif()
endforeach()
