# Runs jscpucfg into HEADER; the program must succeed and print something.
file(REMOVE ${HEADER})
execute_process(COMMAND ${EMULATOR} ${PROGRAM}
  RESULT_VARIABLE status OUTPUT_FILE ${HEADER} ERROR_VARIABLE err)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "jscpucfg ended with ${status}: ${err}")
endif()
file(SIZE ${HEADER} size)
if(size EQUAL 0)
  message(FATAL_ERROR "jscpucfg printed nothing")
endif()
