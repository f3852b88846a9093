# A library that the test loads itself once the protocol registry is filled.
add_library(protocol_late_library SHARED
  ${CMAKE_CURRENT_SOURCE_DIR}/protocol_late_library.cpp)
target_link_libraries(protocol_late_library PRIVATE Foundation nextpdo dl)
add_dependencies(${ZEL_TEST_TARGET} protocol_late_library)
target_compile_definitions(${ZEL_TEST_TARGET} PRIVATE
  ZP_LATE_LIBRARY="$<TARGET_FILE:protocol_late_library>")
