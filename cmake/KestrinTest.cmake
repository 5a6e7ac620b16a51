# kestrin_add_test(name SOURCES ... [LIBS ...] [LOCK name] [PROPERTIES ...])
# Builds a GoogleTest executable and registers each of its tests with ctest, run under Wine.
# LOCK names a machine-wide resource (the agent port, a named kernel object) so that ctest never
# runs two tests that share it at the same time; each executable has one lock at most.
if(NOT TARGET GTest::gtest_main)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
endif()
include(GoogleTest)

function(kestrin_add_test name)
  cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  set(props TIMEOUT 300)
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_LOCK})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES ${props} ${T_PROPERTIES})
endfunction()
