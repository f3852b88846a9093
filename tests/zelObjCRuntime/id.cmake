# NXProxy is in this process (id_noproxy_test runs without it). Nothing
# refers to the library's symbols, so keep the linker from dropping it.
target_link_libraries(${ZEL_TEST_TARGET} PRIVATE NXProxy)
target_link_options(${ZEL_TEST_TARGET} PRIVATE LINKER:--no-as-needed)
