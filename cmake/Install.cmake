# What `cmake --install` puts beside the headers and libraries (each
# library installs itself through zel_library): the CMake package
# (find_package(zel)) with the toolchain file, and the Debian package that
# cpack makes of the whole install.
include(CMakePackageConfigHelpers)

set(_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zel)
install(EXPORT zelTargets NAMESPACE zel:: DESTINATION ${_config_dir})
configure_package_config_file(cmake/zelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/zelConfig.cmake INSTALL_DESTINATION ${_config_dir})
# The package config makes a 64-bit consumer look for i386 libraries, and
# the targets bring -m32 along: no check of the pointer size.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/zelConfig.cmake
  ${CMAKE_BINARY_DIR}/zelConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/i386-toolchain.cmake
  ${PROJECT_SOURCE_DIR}/cmake/zelApplication.cmake
  DESTINATION ${_config_dir})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zel)

# cpack -G DEB (in the build folder): one i386 package of everything
# installed, under /usr.
set(CPACK_PACKAGE_NAME zel)
set(CPACK_PACKAGE_VENDOR "The zel developers")
set(CPACK_PACKAGE_CONTACT "The zel developers <zel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Run-time support for Objective-C programs driven by scripting languages")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The i386 libraries the installed ones and their consumers link.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libc6, libstdc++6, libtcl8.6, libmozjs-102-0, liblua5.4-0, libedit2, libffi-dev")
include(CPack)
