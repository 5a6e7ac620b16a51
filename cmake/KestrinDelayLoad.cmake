# kestrin_delay_load(target DLL dll [FUNCTIONS name...] [DLL dll FUNCTIONS name...]...)
# Links target so that each named system DLL is loaded only when one of its functions is first
# called, not when target is loaded. FUNCTIONS lists every function target imports from that DLL:
# a function missing from the list fails the link, so a new import is a decision, not an
# accident. Never name a DLL that a path without a usable heap needs (the crash-dump writer's
# dbghelp): loading a library there may fail or deadlock.
#
# GNU ld has no delay-load option for PE: dlltool writes a delay-import library for the listed
# functions instead (the run-time's __delayLoadHelper2 resolves them), and target's link looks in
# that library's folder before the system's, so "-l<dll>" finds it there.
function(kestrin_delay_load target)
  cmake_parse_arguments(D "" "" "" ${ARGN})
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_delayload")
  set(dll "")
  set(libraries "")
  foreach(word IN LISTS D_UNPARSED_ARGUMENTS)
    if(word STREQUAL "DLL" OR word STREQUAL "FUNCTIONS")
      set(expect ${word})
    elseif(expect STREQUAL "DLL")
      set(dll ${word})
      list(APPEND libraries ${word})
      set(functions_${word} "")
    else()
      list(APPEND functions_${dll} ${word})
    endif()
  endforeach()

  if(MSVC)
    foreach(dll IN LISTS libraries)
      target_link_options(${target} PRIVATE "/DELAYLOAD:${dll}")
    endforeach()
    target_link_libraries(${target} PRIVATE delayimp)
    return()
  endif()

  file(MAKE_DIRECTORY "${dir}")
  set(outputs "")
  foreach(dll IN LISTS libraries)
    get_filename_component(name "${dll}" NAME_WE)
    string(REPLACE ";" "\n" exports "${functions_${dll}}")
    file(WRITE "${dir}/${name}.def" "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
    add_custom_command(OUTPUT "${dir}/lib${name}.a"
                       COMMAND ${CMAKE_DLLTOOL} --input-def "${dir}/${name}.def" --output-delaylib "${dir}/lib${name}.a"
                       DEPENDS "${dir}/${name}.def"
                       COMMENT "Delay-import library for ${dll}")
    list(APPEND outputs "${dir}/lib${name}.a")
  endforeach()
  add_custom_target(${target}_delayload DEPENDS ${outputs})
  add_dependencies(${target} ${target}_delayload)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${outputs})
  target_link_directories(${target} BEFORE PRIVATE "${dir}")
endfunction()
