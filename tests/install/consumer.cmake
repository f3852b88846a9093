# Installs the build into a scratch prefix (or takes the installed tree
# PREFIX, say a Debian package's files), checks its libraries, then builds
# and runs the consumers against it: through the CMake package with and
# without our toolchain file, and through pkg-config. The linker is told to
# drop unreferenced libraries (as many toolchains do by default), so a
# library reached only by class name stays only when the package keeps it.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# Every message in the listing (lines "Class +selector") has a line of its
# own in its class's doc comment ("@class Class" on a line of its own),
# and every message documented there is implemented.
function(check_documented listing)
  set(text "")
  foreach(header Foundation/Foundation.h AppKit/AppKit.h objc/Protocol.h
      objc/NXProxy.h)
    file(READ ${prefix}/include/${header} part)
    string(APPEND text "${part}")
  endforeach()
  string(REPLACE "\n" ";" lines "${listing}")
  set(faults "")
  set(classes "")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^([^ ]+) ([-+].+)$")
      continue()
    endif()
    set(class ${CMAKE_MATCH_1})
    set(message ${CMAKE_MATCH_2})
    list(APPEND classes ${class})
    doc_block(${class})
    string(FIND "${block}" "\n   ${message} " at)
    string(FIND "${block}" "\n   ${message}\n" alone)
    if(at EQUAL -1 AND alone EQUAL -1)
      string(APPEND faults "undocumented: ${class} ${message}\n")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES classes)
  foreach(class IN LISTS classes)
    doc_block(${class})
    string(REGEX MATCHALL "\n   [-+][A-Za-z_][A-Za-z0-9_:]*" documented
      "${block}")
    foreach(entry IN LISTS documented)
      string(STRIP "${entry}" message)
      string(FIND "\n${listing}" "\n${class} ${message}\n" found)
      if(found EQUAL -1)
        string(APPEND faults "documented, not implemented: ${class} ${message}\n")
      endif()
    endforeach()
  endforeach()
  if(faults)
    message(FATAL_ERROR "installed headers and classes differ:\n${faults}")
  endif()
endfunction()

# Sets block to the doc comment of the class (empty when there is none).
macro(doc_block class)
  string(FIND "${text}" "@class ${class}\n" start)
  set(block "")
  if(NOT start EQUAL -1)
    string(SUBSTRING "${text}" ${start} -1 block)
    string(FIND "${block}" "*/" end)
    string(SUBSTRING "${block}" 0 ${end} block)
  endif()
endmacro()

# Runs the by-name consumers of one build.
function(run_by_name dir)
  run(${EMULATOR} ${dir}/by_name NSFramework_zelObjCRuntime)
  run(${EMULATOR} ${dir}/by_name_app NSApplication NSFramework_zelObjCRuntime)
endfunction()

# Every shared library: the versioned SONAME libNAME.so.1 (the file the
# name leads to installed beside it), and only C names exported: no C++
# symbol, so no std:: instantiation either.
function(check_libraries)
  find_program(NM nm REQUIRED)
  find_program(READELF readelf REQUIRED)
  foreach(lib IN LISTS shared_libraries)
    set(file ${prefix}/lib/lib${lib}.so)
    if(NOT EXISTS ${file} OR NOT EXISTS ${file}.1)
      message(FATAL_ERROR "not installed: lib${lib}.so and lib${lib}.so.1")
    endif()
    run(${READELF} -d ${file})
    if(NOT output MATCHES "Library soname: \\[lib${lib}\\.so\\.1\\]")
      message(FATAL_ERROR "lib${lib}.so has no versioned SONAME:\n${output}")
    endif()
    run(${NM} -D --defined-only ${file})
    string(REGEX MATCHALL "[^\n ]+ _Z[^\n]*" cxx "${output}")
    if(cxx)
      message(FATAL_ERROR "lib${lib}.so exports C++ symbols: ${cxx}")
    endif()
  endforeach()
endfunction()

set(shared_libraries nextpdo Foundation AppKit NXProxy zelObjCRuntime
  zelStandalone zelRuntime zelTcl zelJavaScript zelLua)
set(pc_packages ${shared_libraries} zelBridge)

file(REMOVE_RECURSE ${WORK_DIR})
if(PREFIX)
  set(prefix ${PREFIX})
else()
  set(prefix ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()
foreach(path include/zelObjCRuntime/zelObjCRuntime.h include/objc/objc-runtime.h
    include/objc/NXProxy.h include/zelBridge/zelBridge.h lib/libzelBridge.a
    lib/cmake/zel/zelConfig.cmake lib/cmake/zel/i386-toolchain.cmake
    share/doc/zel/LICENSE bin/jscpucfg)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
foreach(package IN LISTS pc_packages)
  if(NOT EXISTS ${prefix}/lib/pkgconfig/${package}.pc)
    message(FATAL_ERROR "not installed: lib/pkgconfig/${package}.pc")
  endif()
endforeach()
check_libraries()
run(${EMULATOR} ${prefix}/bin/jscpucfg)
if(NOT output MATCHES "#define JS_BYTES_PER_WORD +4L")
  message(FATAL_ERROR "installed jscpucfg printed: ${output}")
endif()

# zel runs scripts of every language from the installed bin/.
foreach(path bin/zel share/man/man1/zel.1 lib/zelTcl/pkgIndex.tcl)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(WRITE ${WORK_DIR}/hello.tcl "puts [objc::send [objc::string $argv] length]\n")
file(WRITE ${WORK_DIR}/hello.js "print(objc.send(objc.string(scriptArgs[0]), 'length'));\n")
file(WRITE ${WORK_DIR}/hello.lua "print(objc.send(objc.string(arg[1]), 'length'))\n")
foreach(script hello.tcl hello.js hello.lua)
  run(${EMULATOR} ${prefix}/bin/zel ${WORK_DIR}/${script} four)
  if(NOT output STREQUAL "4\n")
    message(FATAL_ERROR "installed zel ${script} printed: ${output}")
  endif()
endforeach()

set(drop_unused -DCMAKE_EXE_LINKER_FLAGS=-Wl,--as-needed)
# With the toolchain file the package installs.
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build
  -DCMAKE_TOOLCHAIN_FILE=${prefix}/lib/cmake/zel/i386-toolchain.cmake
  -DCMAKE_PREFIX_PATH=${prefix} ${drop_unused})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${EMULATOR} ${WORK_DIR}/build/consumer)
if(NOT output MATCHES "18446744073709551615")
  message(FATAL_ERROR "unexpected output: ${output}")
endif()
run_by_name(${WORK_DIR}/build)
run(${EMULATOR} ${WORK_DIR}/build/messages)
check_documented("${output}")
run(${EMULATOR} ${WORK_DIR}/build/with_ffi)
run(${EMULATOR} ${WORK_DIR}/build/bridge)
# zel_add_application's bundle runs its script and ends with status 1.
execute_process(COMMAND ${EMULATOR} ${WORK_DIR}/build/Made.app/Made
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 1 OR NOT out MATCHES "made from the installed package: 5")
  message(FATAL_ERROR "Made.app ended with ${status}: ${out}")
endif()

# Without the toolchain file, and with flags of the consumer's own, the
# compiler makes 64-bit code unless the targets say -m32: the platform
# headers refuse anything but i386, and the link would not take the
# libraries. The consumer's own find_library must find the i386 libffi.
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build-plain
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_FLAGS=-Wshadow
  -DCMAKE_INSTALL_PREFIX=${WORK_DIR}/consumer-prefix ${drop_unused})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build-plain)
run(${EMULATOR} ${WORK_DIR}/build-plain/consumer)
run_by_name(${WORK_DIR}/build-plain)
run(${EMULATOR} ${WORK_DIR}/build-plain/with_ffi)
run(${EMULATOR} ${WORK_DIR}/build-plain/bridge)
# Installed, the consumer's programs still find the libraries.
run(${CMAKE_COMMAND} --install ${WORK_DIR}/build-plain)
run(${EMULATOR} ${WORK_DIR}/consumer-prefix/bin/consumer)
run(${EMULATOR} ${WORK_DIR}/consumer-prefix/bin/bridge)

# pkg-config is a prerequisite: its absence fails the test.
find_program(PKG_CONFIG NAMES pkg-config pkgconf)
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config not found (scripts/install-prerequisites "
    "installs it): the pkg-config consumers cannot be checked")
endif()
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
file(MAKE_DIRECTORY ${WORK_DIR}/pc)
foreach(package IN LISTS pc_packages)
  run(${PKG_CONFIG} --cflags --libs ${package})
  string(STRIP "${output}" flags)
  separate_arguments(flags_${package} UNIX_COMMAND "${flags}")
endforeach()
run(g++ -std=c++17 -Wl,--as-needed ${CONSUMER_DIR}/main.cpp
  ${flags_zelObjCRuntime} -o ${WORK_DIR}/pc/consumer)
run(${EMULATOR} ${WORK_DIR}/pc/consumer)
run(g++ -std=c++17 -Wl,--as-needed ${CONSUMER_DIR}/by_name.cpp
  ${flags_zelObjCRuntime} -o ${WORK_DIR}/pc/by_name)
run(g++ -std=c++17 -Wl,--as-needed ${CONSUMER_DIR}/by_name.cpp
  ${flags_zelStandalone} -o ${WORK_DIR}/pc/by_name_app)
run_by_name(${WORK_DIR}/pc)
run(g++ -std=c++17 -Wl,--as-needed ${CONSUMER_DIR}/bridge.cpp
  ${flags_zelBridge} -o ${WORK_DIR}/pc/bridge)
run(${EMULATOR} ${WORK_DIR}/pc/bridge)
run(g++ -std=c++17 -Wl,--as-needed ${CONSUMER_DIR}/by_name.cpp
  ${flags_zelJavaScript} -o ${WORK_DIR}/pc/by_name_js)
run(${EMULATOR} ${WORK_DIR}/pc/by_name_js NSFramework_zelJavaScript
  NSFramework_zelTcl NSFramework_zelRuntime)
