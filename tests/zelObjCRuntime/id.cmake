# NXProxy is in this process (id_noproxy_test runs without it).
target_link_libraries(${ZEL_TEST_TARGET} PRIVATE NXProxy)
