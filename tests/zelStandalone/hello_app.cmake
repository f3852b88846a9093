# Runs Hello.app with two arguments (and --fail for VARIANT fail) and
# checks its output and its exit status, which is always 1.
include(${CMAKE_CURRENT_LIST_DIR}/run_app.cmake)
set(expected "^Hello from Tcl 8\\.6[.0-9]*\nargc = ${argc}\n")
string(APPEND expected "argv\\(0\\) = [^\n]*Hello\n")
string(APPEND expected "argv\\(1\\) = one\nargv\\(2\\) = two words\n")
if(VARIANT STREQUAL "fail")
  string(APPEND expected "argv\\(3\\) = --fail\n")
endif()
# What the script did through the bridge.
string(APPEND expected "string: Hello, Objective-C \\(18 characters\\)\n")
string(APPEND expected "equal: 0\ncounter: Counter at 11\n")
string(APPEND expected
  "  \\(increment redefined: the former method counted to 21\\)\n")
string(APPEND expected "counter: 21\nimplements Describing: 1\n")
string(APPEND expected "strlen: 9\natan2\\(1, 1\\) \\* 4 = 3\\.141593\n")
string(APPEND expected "the event was handled\n")
# The event handler's Tcl error, presented by the Tcl language; with
# --fail, the script's own error after it.
set(expected_err
  "^Tcl error: the button's handler failed\n    while executing")
if(VARIANT STREQUAL "fail")
  string(APPEND expected "$")
  string(APPEND expected_err
    ".*\nTcl error: asked to fail with --fail\n    while executing")
else()
  string(APPEND expected "Goodbye\n$")
endif()
if(NOT out MATCHES "${expected}")
  message(FATAL_ERROR "unexpected output")
endif()
if(NOT err MATCHES "${expected_err}")
  message(FATAL_ERROR "unexpected error output")
endif()
if(NOT VARIANT STREQUAL "fail" AND err MATCHES "--fail")
  message(FATAL_ERROR "the script failed without --fail")
endif()
