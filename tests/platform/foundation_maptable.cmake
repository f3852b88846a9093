# Inserts within capacity are checked to allocate nothing.
target_sources(${ZEL_TEST_TARGET} PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/support/allocation_counter.cpp)
