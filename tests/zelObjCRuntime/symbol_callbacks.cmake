# The map callbacks are internal to the library: this program builds the
# symbol module's tables (and the registry of loaded ones they leave) in, so
# that it reaches them directly.
target_sources(${ZEL_TEST_TARGET} PRIVATE
  ${PROJECT_SOURCE_DIR}/zelObjCRuntime/symbol.cpp
  ${PROJECT_SOURCE_DIR}/zelObjCRuntime/symbol_file.cpp)
target_include_directories(${ZEL_TEST_TARGET} PRIVATE ${PROJECT_SOURCE_DIR})
