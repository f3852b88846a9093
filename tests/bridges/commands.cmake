# The C function of the cases is found by name among the program's exports.
set_target_properties(${ZEL_TEST_TARGET} PROPERTIES ENABLE_EXPORTS ON)

# HelloLua.app end to end: what the script prints and the exit status 1 of
# every scripted application, with and without an uncaught error.
if(TARGET HelloLua)
  foreach(variant ok fail)
    add_test(NAME hello_lua_app_${variant}
      COMMAND ${CMAKE_COMMAND}
        -DAPP=$<TARGET_FILE:HelloLua>
        -DEMULATOR=${ZEL_EMULATOR}
        -DVARIANT=${variant}
        -P ${CMAKE_CURRENT_SOURCE_DIR}/hello_lua_app.cmake)
    set_tests_properties(hello_lua_app_${variant} PROPERTIES
      TIMEOUT 120 LABELS unit)
  endforeach()
endif()
