# White-box checks read the table record from the library's own header.
target_include_directories(${ZEL_TEST_TARGET} PRIVATE ${PROJECT_SOURCE_DIR})
# Loads are checked to make no allocation per definition.
target_sources(${ZEL_TEST_TARGET} PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/support/allocation_counter.cpp)
