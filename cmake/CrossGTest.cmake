# GoogleTest for a cross build: Debian ships its sources (libgtest-dev puts
# them in /usr/src/googletest), built here with the cross compiler under the
# names find_package(GTest) gives on the host.
set(QZ381_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${QZ381_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(lib gtest gtest_main gmock gmock_main)
  # Their code is not ours: none of our warnings-as-errors.
  set_target_properties(${lib} PROPERTIES COMPILE_OPTIONS "-w")
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
