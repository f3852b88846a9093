# The order of the real languages: this program lives in languages.app,
# whose resources hold both main.tcl and main.js, and it names zelJavaScript
# before zelTcl when linking.
set(bundle ${CMAKE_CURRENT_BINARY_DIR}/languages.app)
target_link_libraries(${ZEL_TEST_TARGET} PRIVATE zelJavaScript zelTcl)
set_target_properties(${ZEL_TEST_TARGET} PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${bundle})
file(WRITE ${bundle}/Resources/main.tcl "puts stderr \"main.tcl ran\"\n")
file(WRITE ${bundle}/Resources/main.js "console.error('main.js ran');\n")
