# Shared by the example-application scripts: runs APP with two arguments
# (and --fail for VARIANT fail), checks the exit status, which is always 1,
# and leaves out, err and argc for the caller's checks.
set(arguments one "two words")
if(VARIANT STREQUAL "fail")
  list(APPEND arguments --fail)
endif()
execute_process(COMMAND ${EMULATOR} ${APP} ${arguments}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "stdout:\n${out}stderr:\n${err}")

if(NOT status STREQUAL "1")
  message(FATAL_ERROR "exit status ${status}, not 1")
endif()
list(LENGTH arguments count)
math(EXPR argc "${count} + 1")
