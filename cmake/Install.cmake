# What `cmake --install` puts beside the headers and libraries: a CMake
# package (find_package(zel)) and pkg-config files.
include(CMakePackageConfigHelpers)

# What an installed target hands its consumer, who may build without our
# toolchain file: i386 code, compiled and linked with -m32, and every
# library kept in the program even when nothing names one of its functions
# (a bridge may reach a class only by name, through objc_getClass, which
# leaves the linker no symbol to keep the library for). Link options come
# before the libraries on the link line, so the switch covers them.
foreach(target nextpdo Foundation AppKit NXProxy platform_headers
    zelObjCRuntime zelStandalone zelRuntime zelTcl zelJavaScript)
  if(TARGET ${target})
    set_property(TARGET ${target} APPEND PROPERTY
      INTERFACE_COMPILE_OPTIONS $<INSTALL_INTERFACE:-m32>)
    set_property(TARGET ${target} APPEND PROPERTY
      INTERFACE_LINK_OPTIONS $<INSTALL_INTERFACE:-m32>
      $<INSTALL_INTERFACE:-Wl,--no-as-needed>)
  endif()
endforeach()

set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zel)
install(EXPORT zelTargets NAMESPACE zel:: DESTINATION ${_config_dir})
configure_package_config_file(cmake/zelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/zelConfig.cmake INSTALL_DESTINATION ${_config_dir})
# The targets bring -m32 along, so a consumer configured for 64-bit code
# may still take the package: no check of the pointer size.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/zelConfig.cmake
  ${CMAKE_BINARY_DIR}/zelConfigVersion.cmake DESTINATION ${_config_dir})
install(FILES cmake/zelApplication.cmake DESTINATION ${_config_dir})
foreach(lib zelObjCRuntime zelStandalone)
  if(TARGET ${lib})
    configure_file(cmake/${lib}.pc.in ${CMAKE_BINARY_DIR}/${lib}.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/${lib}.pc
      DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  endif()
endforeach()
