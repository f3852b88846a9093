target_link_libraries(${ZEL_TEST_TARGET} PRIVATE zelTcl)

# Hello.app end to end, with real Tcl: what the script prints and the exit
# status 1 of every scripted application, with and without a script error.
if(TARGET Hello)
  foreach(variant ok fail)
    add_test(NAME hello_app_${variant}
      COMMAND ${CMAKE_COMMAND}
        -DAPP=$<TARGET_FILE:Hello>
        -DEMULATOR=${ZEL_EMULATOR}
        -DVARIANT=${variant}
        -P ${CMAKE_CURRENT_SOURCE_DIR}/hello_app.cmake)
    set_tests_properties(hello_app_${variant} PROPERTIES
      TIMEOUT 120 LABELS unit)
  endforeach()
endif()
