# The probe functions are found by name among the program's exports.
set_target_properties(${ZEL_TEST_TARGET} PROPERTIES ENABLE_EXPORTS ON)
target_link_libraries(${ZEL_TEST_TARGET} PRIVATE AppKit)
