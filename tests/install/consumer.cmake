# Installs the build into a scratch prefix, then builds and runs the
# consumer against it.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(path include/zelObjCRuntime/zelObjCRuntime.h include/objc/objc-runtime.h
    lib/libzelObjCRuntime.so lib/cmake/zel/zelConfig.cmake
    lib/pkgconfig/zelObjCRuntime.pc bin/jscpucfg)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
run(${EMULATOR} ${prefix}/bin/jscpucfg)
if(NOT output MATCHES "#define JS_BYTES_PER_WORD +4L")
  message(FATAL_ERROR "installed jscpucfg printed: ${output}")
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build
  -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${EMULATOR} ${WORK_DIR}/build/consumer)
if(NOT output MATCHES "18446744073709551615")
  message(FATAL_ERROR "unexpected output: ${output}")
endif()

find_program(PKG_CONFIG NAMES pkg-config pkgconf)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
  run(${PKG_CONFIG} --cflags --libs zelObjCRuntime)
  string(STRIP "${output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(g++ -std=c++17 ${CONSUMER_DIR}/main.cpp ${flags}
    -o ${WORK_DIR}/consumer-pc)
  run(${EMULATOR} ${WORK_DIR}/consumer-pc)
endif()
