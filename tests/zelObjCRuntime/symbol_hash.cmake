# The hash is internal to the library (a header of its own): this program
# reads it from the library's sources.
target_include_directories(${ZEL_TEST_TARGET} PRIVATE ${PROJECT_SOURCE_DIR})
