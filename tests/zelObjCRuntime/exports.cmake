# The library file and its version script, read by the test.
target_compile_definitions(${ZEL_TEST_TARGET} PRIVATE
  ZEL_LIBRARY_FILE="$<TARGET_FILE:zelObjCRuntime>"
  ZEL_EXPORTS_MAP="${PROJECT_SOURCE_DIR}/zelObjCRuntime/exports.map")
