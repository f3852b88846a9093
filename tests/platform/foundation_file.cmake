# The bundle test runs a copy of itself inside a .app folder, under the
# emulator when the tests run under it.
target_compile_definitions(${ZEL_TEST_TARGET} PRIVATE
  ZEL_TEST_EMULATOR="${ZEL_EMULATOR}")
