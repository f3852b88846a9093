# The test program exports its own symbols and links two helper libraries
# that export one name (zelsym_a first, so it is loaded first); a third is
# only ever loaded by the test with dlopen, under a soname of its own.
set_target_properties(${ZEL_TEST_TARGET} PROPERTIES ENABLE_EXPORTS ON)
foreach(helper a b late)
  add_library(zelsym_${helper} SHARED
    ${CMAKE_CURRENT_SOURCE_DIR}/external_helpers.cpp)
  string(TOUPPER ${helper} upper)
  target_compile_definitions(zelsym_${helper} PRIVATE ZEL_HELPER_${upper})
endforeach()
target_link_libraries(zelsym_a PRIVATE zelsym_b)
set_target_properties(zelsym_late PROPERTIES NO_SONAME ON)
target_link_options(zelsym_late PRIVATE -Wl,-soname,zelsym-late-soname)
target_link_libraries(${ZEL_TEST_TARGET} PRIVATE
  -Wl,--no-as-needed zelsym_a zelsym_b)
add_dependencies(${ZEL_TEST_TARGET} zelsym_late)
target_compile_definitions(${ZEL_TEST_TARGET} PRIVATE
  ZEL_LATE_LIBRARY="$<TARGET_FILE:zelsym_late>"
  ZEL_LATE_FILE="$<TARGET_FILE_NAME:zelsym_late>")
