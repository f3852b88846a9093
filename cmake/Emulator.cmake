# Finds out whether this kernel runs 32-bit programs. Where it does not,
# every 32-bit program (tests, examples) runs through qemu-i386, which CTest
# and gtest_discover_tests pick up as the cross-compiling emulator.
option(ZEL_FORCE_EMULATOR "Run 32-bit programs under qemu-i386 even where the kernel could run them" OFF)

set(_probe_dir ${CMAKE_BINARY_DIR}/i386-probe)
file(WRITE ${_probe_dir}/probe.c "int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n")
# -m32 is given here too: try_compile does not take the project's options.
try_compile(_probe_built ${_probe_dir}/build ${_probe_dir}/probe.c
  COMPILE_DEFINITIONS -m32 LINK_OPTIONS -m32
  COPY_FILE ${_probe_dir}/probe)

set(ZEL_EMULATOR "")
if(NOT _probe_built)
  message(FATAL_ERROR "cannot build 32-bit programs: install g++-multilib")
endif()
execute_process(COMMAND ${_probe_dir}/probe RESULT_VARIABLE _native
  OUTPUT_QUIET ERROR_QUIET)
if(ZEL_FORCE_EMULATOR OR NOT _native EQUAL 0)
  find_program(ZEL_QEMU qemu-i386 REQUIRED)
  execute_process(COMMAND ${ZEL_QEMU} ${_probe_dir}/probe RESULT_VARIABLE _emulated
    OUTPUT_QUIET ERROR_QUIET)
  if(NOT _emulated EQUAL 0)
    message(FATAL_ERROR "32-bit programs run neither natively nor under ${ZEL_QEMU}")
  endif()
  set(ZEL_EMULATOR ${ZEL_QEMU})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEL_QEMU})
  message(STATUS "32-bit programs run under ${ZEL_QEMU}")
else()
  message(STATUS "32-bit programs run natively")
endif()
