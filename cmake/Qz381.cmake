# Shared helpers for the components' CMakeLists.

# Modules (service object, port modules) are loaded by path at run time: no 'lib'
# prefix, the platform's suffix, and they find the platform runtime beside them.
function(qz381_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                                           BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
endfunction()

# qz381_test(NAME SOURCES a_test.cpp ... LIBS lib ... [LABELS concurrency])
# Unit tests sit beside the code they test; CTest discovers each GoogleTest case.
function(qz381_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(QZ381_PORTABLE_ONLY)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${T_LABELS}"
                       DISCOVERY_TIMEOUT 30)
endfunction()
