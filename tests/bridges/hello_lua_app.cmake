# Runs HelloLua.app with two arguments (and --fail for VARIANT fail) and
# checks its output and its exit status, which is always 1.
include(${CMAKE_CURRENT_LIST_DIR}/../zelStandalone/run_app.cmake)
set(expected "^Hello from Lua 5\\.4\nargc = ${argc}\n")
string(APPEND expected "argv\\[0\\] = [^\n]*HelloLua\n")
string(APPEND expected "argv\\[1\\] = one\nargv\\[2\\] = two words\n")
if(VARIANT STREQUAL "fail")
  string(APPEND expected "argv\\[3\\] = --fail\n")
endif()
string(APPEND expected "string: Hello, Objective-C \\(18 characters\\)\n")
string(APPEND expected "equal: 0\ncounter: Counter at 11\n")
string(APPEND expected
  "  \\(increment redefined: the former method counted to 21\\)\n")
string(APPEND expected "counter: 21\nimplements Describing: true\n")
string(APPEND expected "strlen: 12\natan2\\(1, 1\\) \\* 4 = 3\\.141593\n")
string(APPEND expected "the event was handled\n")
# The event handler's error, presented by the Lua language with its
# traceback; with --fail, the script's own error after it.
set(expected_err
  "^Lua error: [^\n]*main\\.lua:[0-9]+: the button's handler failed\nstack traceback:")
if(VARIANT STREQUAL "fail")
  string(APPEND expected "$")
  string(APPEND expected_err ".*\nLua error: [^\n]*main\\.lua:[0-9]+: asked to fail with --fail\n")
else()
  string(APPEND expected "Goodbye\n$")
endif()
if(NOT out MATCHES "${expected}")
  message(FATAL_ERROR "unexpected output")
endif()
if(NOT err MATCHES "${expected_err}")
  message(FATAL_ERROR "unexpected error output")
endif()
