# The test program reads the header that jscpucfg printed in this build: a
# 32-bit program cannot start another one under the emulator, so a CTest
# fixture runs jscpucfg first and writes its output beside the test.
set(header ${CMAKE_CURRENT_BINARY_DIR}/jscpucfg.h)
target_compile_definitions(${ZEL_TEST_TARGET} PRIVATE
  JSCPUCFG_HEADER="${header}")
add_test(NAME jscpucfg_print
  COMMAND ${CMAKE_COMMAND}
    -DPROGRAM=$<TARGET_FILE:jscpucfg>
    -DEMULATOR=${ZEL_EMULATOR}
    -DHEADER=${header}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/jscpucfg_print.cmake)
set_tests_properties(jscpucfg_print PROPERTIES
  FIXTURES_SETUP jscpucfg_header TIMEOUT 120 LABELS unit)
set(ZEL_TEST_DISCOVER OFF)
gtest_discover_tests(${ZEL_TEST_TARGET} DISCOVERY_TIMEOUT 120
  PROPERTIES TIMEOUT 300 LABELS unit FIXTURES_REQUIRED jscpucfg_header)
