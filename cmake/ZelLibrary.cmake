# How a library of the project is built for others and installed, written
# once so that every library (and the next one) gets the same contract.
#
#   zel_library(TARGET DESCRIPTION TEXT
#     [EXPORTS FILE]          version script: only its names leave the
#                             library (required for a shared library)
#     [HEADERS DIR]           a folder of headers, installed under include/
#     [REQUIRES PACKAGE ...]  pkg-config packages a consumer needs as well
#     [LINKS NAME ...]        libraries linked after it (pkg-config Libs))
#
# A shared library gets a versioned SONAME (libTARGET.so.MAJOR), the version
# script, and a run path that finds its siblings; every library is exported
# as zel::TARGET with what its consumer needs (see zel_interface_options),
# and gets a pkg-config file TARGET.pc.
function(zel_library target)
  cmake_parse_arguments(L "" "DESCRIPTION;EXPORTS;HEADERS" "REQUIRES;LINKS"
    ${ARGN})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    if(NOT L_EXPORTS)
      message(FATAL_ERROR "zel_library(${target}): a shared library needs "
        "a version script (EXPORTS)")
    endif()
    get_filename_component(map ${L_EXPORTS} ABSOLUTE)
    target_link_options(${target} PRIVATE -Wl,--version-script=${map})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
    set_target_properties(${target} PROPERTIES
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
      INSTALL_RPATH "$ORIGIN")
  endif()
  zel_interface_options(${target})
  install(TARGETS ${target} EXPORT zelTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  if(L_HEADERS)
    install(DIRECTORY ${L_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  endif()
  zel_pkg_config(${target} "${L_DESCRIPTION}" "${L_REQUIRES}"
    "${target};${L_LINKS}")
endfunction()

# What an installed target hands its consumer, who may build without our
# toolchain file: i386 code (-m32 as a target option, which no
# CMAKE_<LANG>_FLAGS of the consumer can remove), a run path to the
# installed libraries (so that the consumer's programs start once installed
# too), and every library kept in the program even when nothing names one
# of its functions (a bridge may reach a class only by name, through
# objc_getClass, which leaves the linker no symbol to keep the library for).
# Link options come before the libraries on the link line, so the switch
# covers them.
function(zel_interface_options target)
  set_property(TARGET ${target} APPEND PROPERTY
    INTERFACE_COMPILE_OPTIONS $<INSTALL_INTERFACE:-m32>)
  set_property(TARGET ${target} APPEND PROPERTY
    INTERFACE_LINK_OPTIONS $<INSTALL_INTERFACE:-m32>
    "$<INSTALL_INTERFACE:-Wl,-rpath,$<INSTALL_PREFIX>/${CMAKE_INSTALL_LIBDIR}>"
    $<INSTALL_INTERFACE:-Wl,--no-as-needed>)
endfunction()

# Writes and installs NAME.pc: the libraries LINKS (NAME first) in one -Wl
# fragment with --no-as-needed, so that pkg-config's merging of repeated
# flags cannot move the switch away from them.
function(zel_pkg_config name description requires links)
  list(FILTER links EXCLUDE REGEX "^$")
  list(TRANSFORM links PREPEND "-l")
  string(REPLACE ";" "," ZEL_PC_LINKS "${links}")
  string(REPLACE ";" " " ZEL_PC_REQUIRES "${requires}")
  set(ZEL_PC_NAME ${name})
  set(ZEL_PC_DESCRIPTION "${description}")
  set(file ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${file} @ONLY)
  install(FILES ${file} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

# Installs a program under bin/, with a run path to the libraries in lib/.
function(zel_program target)
  set_target_properties(${target} PROPERTIES
    INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
