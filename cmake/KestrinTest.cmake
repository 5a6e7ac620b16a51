# kestrin_add_test(name SOURCES ... [LIBS ...] [LOCKS name...] [PROPERTIES ...])
# Builds a GoogleTest executable and registers each of its tests with ctest, run under Wine.
# LOCKS names machine-wide resources (the agent port, the product registry key, named kernel
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
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT 300 ${T_PROPERTIES})
  if(T_LOCKS)
    # The discovered tests exist only when ctest runs; this script, included after discovery,
    # gives each of them the locks (a list, which discovery's own PROPERTIES cannot carry).
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_locks.cmake")
    file(WRITE "${script}"
         "foreach(t IN LISTS ${name}_TESTS)\n"
         "  set_tests_properties(\"\${t}\" PROPERTIES RESOURCE_LOCK \"${T_LOCKS}\")\n"
         "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()
