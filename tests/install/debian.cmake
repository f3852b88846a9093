# Makes the Debian package of the build with cpack, checks what dpkg-deb
# says of it (i386, the libraries, headers, CMake and pkg-config files
# under /usr), unpacks it into a scratch folder and runs the install test's
# consumers against the unpacked /usr.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

find_program(CPACK cpack HINTS ${CMAKE_COMMAND}/.. REQUIRED)
find_program(DPKG_DEB dpkg-deb REQUIRED)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR})
file(GLOB packages ${WORK_DIR}/*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages: ${packages}")
endif()

run(${DPKG_DEB} --field ${packages} Package Architecture Version)
if(NOT output MATCHES "Package: zel\nArchitecture: i386\nVersion: ")
  message(FATAL_ERROR "package fields:\n${output}")
endif()
run(${DPKG_DEB} --contents ${packages})
foreach(path usr/lib/libzelObjCRuntime.so.1 usr/lib/libFoundation.so.1
    usr/lib/libzelBridge.a usr/include/Foundation/Foundation.h
    usr/lib/cmake/zel/zelConfig.cmake usr/lib/pkgconfig/zelTcl.pc
    usr/share/doc/zel/LICENSE)
  if(NOT output MATCHES "\\./${path}")
    message(FATAL_ERROR "not in the package: /${path}\n${output}")
  endif()
endforeach()

run(${DPKG_DEB} -x ${packages} ${WORK_DIR}/root)
run(${CMAKE_COMMAND} -DBUILD_DIR=${BUILD_DIR} -DWORK_DIR=${WORK_DIR}/consumer
  -DPREFIX=${WORK_DIR}/root/usr -DCONSUMER_DIR=${CONSUMER_DIR}
  -DEMULATOR=${EMULATOR} -P ${CMAKE_CURRENT_LIST_DIR}/consumer.cmake)
