# keo_add_test(NAME [LOADS_PLUGIN] SOURCES a.cpp b.cpp LIBS lib1 lib2)
# One GoogleTest executable whose cases CTest lists one by one. LOADS_PLUGIN:
# the test loads the plug-in module built in this tree, so it is told the
# module's path (KEO_PLUGIN_PATH) and the module is built before it.
function(keo_add_test name)
  cmake_parse_arguments(T "LOADS_PLUGIN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(T_LOADS_PLUGIN)
    target_compile_definitions(${name} PRIVATE KEO_PLUGIN_PATH="$<TARGET_FILE:keo_plugin>")
    add_dependencies(${name} keo_plugin)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 600)
endfunction()
