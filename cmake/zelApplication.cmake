# zel_add_application(NAME MAIN_SCRIPT [RESOURCES FILE ...]): a scripted
# application bundle NAME.app in the build folder. Its executable NAME only
# calls ZELApplicationMain; MAIN_SCRIPT is copied to NAME.app/Resources/ as
# main.EXT (EXT, its own extension, names its language: tcl, js or lua),
# and each resource file beside it under its own name. From the installed
# package (find_package(zel)) or inside this project alike.
function(zel_add_application name main_script)
  cmake_parse_arguments(APP "" "" "RESOURCES" ${ARGN})
  set(bundle ${CMAKE_CURRENT_BINARY_DIR}/${name}.app)
  get_filename_component(script ${main_script} ABSOLUTE)
  get_filename_component(extension ${script} LAST_EXT)
  set(main ${CMAKE_CURRENT_BINARY_DIR}/${name}_main.cpp)
  file(GENERATE OUTPUT ${main} CONTENT
    "// The executable of ${name}.app: everything else is in its script.
#include <zelStandalone/zelStandalone.h>

int main(int argc, char **argv) { ZELApplicationMain(argc, argv); }
")
  add_executable(${name} ${main})
  if(TARGET zel::zelStandalone)
    target_link_libraries(${name} PRIVATE zel::zelStandalone)
  else()
    target_link_libraries(${name} PRIVATE zelStandalone)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${bundle})
  set(copies ${bundle}/Resources/main${extension})
  set(commands COMMAND ${CMAKE_COMMAND} -E copy ${script} ${copies})
  set(sources ${script})
  foreach(resource ${APP_RESOURCES})
    get_filename_component(path ${resource} ABSOLUTE)
    get_filename_component(file ${path} NAME)
    list(APPEND copies ${bundle}/Resources/${file})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${path}
      ${bundle}/Resources/${file})
    list(APPEND sources ${path})
  endforeach()
  add_custom_command(OUTPUT ${copies} ${commands} DEPENDS ${sources}
    COMMENT "Copying the scripts into ${name}.app")
  add_custom_target(${name}Resources DEPENDS ${copies})
  add_dependencies(${name} ${name}Resources)
endfunction()
