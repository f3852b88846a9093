target_link_libraries(${ZEL_TEST_TARGET} PRIVATE zelJavaScript)

# HelloJS.app end to end, with real SpiderMonkey: what the script prints and
# the exit status 1 of every scripted application, with and without an
# uncaught error.
if(TARGET HelloJS)
  foreach(variant ok fail)
    add_test(NAME hello_js_app_${variant}
      COMMAND ${CMAKE_COMMAND}
        -DAPP=$<TARGET_FILE:HelloJS>
        -DEMULATOR=${ZEL_EMULATOR}
        -DVARIANT=${variant}
        -P ${CMAKE_CURRENT_SOURCE_DIR}/hello_js_app.cmake)
    set_tests_properties(hello_js_app_${variant} PROPERTIES
      TIMEOUT 120 LABELS unit)
  endforeach()
endif()
