# Internal encoding table and layout.
target_include_directories(${ZEL_TEST_TARGET} PRIVATE ${PROJECT_SOURCE_DIR}/zelObjCRuntime)
