# zel_case(NAME STATUS OUT ERR [INPUT text] ARGS ...): runs the program
# ${PROGRAM} with the arguments (and the input text on standard input) and
# checks its exit status and that stdout and stderr match the regular
# expressions.
file(MAKE_DIRECTORY ${WORK})
function(zel_case name status out err)
  cmake_parse_arguments(C "" "INPUT" "ARGS" ${ARGN})
  set(input ${WORK}/${name}.in)
  file(WRITE ${input} "${C_INPUT}")
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${C_ARGS}
    INPUT_FILE ${input} WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE got OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if(NOT got STREQUAL "${status}" OR NOT stdout MATCHES "${out}"
     OR NOT stderr MATCHES "${err}")
    message(SEND_ERROR "${name}: status ${got} (wanted ${status})\n"
      "stdout:\n${stdout}\nstderr:\n${stderr}")
  endif()
endfunction()
