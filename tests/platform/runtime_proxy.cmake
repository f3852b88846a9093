# The proxy class lives in a library of its own.
target_link_libraries(${ZEL_TEST_TARGET} PRIVATE NXProxy)
