# Shared helpers for the components' CMakeLists.

# Modules (service object, port modules) are loaded by path at run time: no 'lib'
# prefix, the platform's suffix, and they find the platform runtime beside them.
function(qz381_module name)
  add_library(${name} MODULE ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                                           BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
  if(WIN32)
    # The DLL carries the product version in its version resource.
    qz381_version_resource(${name})
  endif()
endfunction()

# A version resource (VERSIONINFO) with the product version for a Windows file.
function(qz381_version_resource target)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "EXECUTABLE")
    set(QZ381_FILE_NAME "${target}.exe")
    set(QZ381_FILE_TYPE "VFT_APP")
  else()
    set(QZ381_FILE_NAME "${target}.dll")
    set(QZ381_FILE_TYPE "VFT_DLL")
  endif()
  set(QZ381_FILE_TARGET ${target})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()

# A program of the product: on Windows it gets the version resource too.
function(qz381_program name)
  add_executable(${name} ${ARGN})
  if(WIN32)
    qz381_version_resource(${name})
  endif()
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
  if(CMAKE_CROSSCOMPILING)
    # Under Wine each process start costs a good part of a second: one CTest
    # test per program rather than one per case.
    # One at a time: two Wine programs that start together can both try to
    # start the prefix's desktop process, and the loser can make no window
    # for the rest of its life (its message windows fail).
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS};wine" RESOURCE_LOCK wine_desktop)
    return()
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${T_LABELS}"
                       DISCOVERY_TIMEOUT 30)
endfunction()
