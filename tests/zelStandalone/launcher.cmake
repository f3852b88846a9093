# The launcher's tests run from inside a bundle that holds main scripts for
# the test languages "first" and "second".
set(bundle ${CMAKE_CURRENT_BINARY_DIR}/launcher.app)
target_link_libraries(${ZEL_TEST_TARGET} PRIVATE zelRuntime)
set_target_properties(${ZEL_TEST_TARGET} PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${bundle})
file(WRITE ${bundle}/Resources/main.first "")
file(WRITE ${bundle}/Resources/main.second "")
