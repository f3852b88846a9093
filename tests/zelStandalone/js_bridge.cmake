target_link_libraries(${ZEL_TEST_TARGET} PRIVATE zelJavaScript zelObjCRuntime)
