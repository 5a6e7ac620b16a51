# kestrin_add_test(name SOURCES ... [LIBS ...] [LOCKS ...] [PROPERTIES ...])
# Builds a GoogleTest executable and registers each of its tests with ctest, run under Wine.
# LOCKS names machine-wide resources (the product registry key, the agent port, named kernel
# objects) so that ctest never runs two tests that share one at the same time.
if(NOT TARGET GTest::gtest_main)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
endif()
include(GoogleTest)

function(kestrin_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LOCKS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  set(props TIMEOUT 300)
  if(T_LOCKS)
    string(REPLACE ";" "," locks "${T_LOCKS}")
    list(APPEND props RESOURCE_LOCK "${locks}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES ${props} ${T_PROPERTIES})
endfunction()
