# How a DLL of ours imports system functions, where the default import libraries would load more
# than a span needs. FUNCTIONS lists every function the target imports through that library: one
# missing from the list fails the link, so a new import is a decision, not an accident.
#
# kestrin_delay_load(target DLL dll FUNCTIONS name... [DLL dll FUNCTIONS name...]...)
#   Each DLL is loaded only when one of its functions is first called, not when target is loaded.
#   Never name a DLL that a path without a usable heap needs (the crash-dump writer's dbghelp):
#   loading a library there may fail or deadlock.
# kestrin_import_from(target LIBRARY name DLL dll FUNCTIONS name...)
#   The functions that "-l<name>" would bring are imported from dll instead, for example from the
#   API set that holds them without the rest of their classic DLL.
#
# GNU ld has no delay-load option for PE: dlltool writes a delay-import library for the listed
# functions instead (the run-time's __delayLoadHelper2 resolves them). Each library made here goes
# to a folder of its own that target's link searches before the system's.

function(_kestrin_import_library target library dll mode functions)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_imports/${library}")
  file(MAKE_DIRECTORY "${dir}")
  string(REPLACE ";" "\n" exports "${functions}")
  file(WRITE "${dir}/${library}.def" "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
  add_custom_command(OUTPUT "${dir}/lib${library}.a"
                     COMMAND ${CMAKE_DLLTOOL} --input-def "${dir}/${library}.def" ${mode} "${dir}/lib${library}.a"
                     DEPENDS "${dir}/${library}.def"
                     COMMENT "Import library ${library} for ${dll}")
  add_custom_target(${target}_${library}_imports DEPENDS "${dir}/lib${library}.a")
  add_dependencies(${target} ${target}_${library}_imports)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${dir}/lib${library}.a")
  target_link_directories(${target} BEFORE PRIVATE "${dir}")
endfunction()

function(kestrin_delay_load target)
  set(dll "")
  foreach(word IN LISTS ARGN)
    if(word STREQUAL "DLL" OR word STREQUAL "FUNCTIONS")
      set(expect ${word})
    elseif(expect STREQUAL "DLL")
      set(dll ${word})
      list(APPEND dlls ${word})
    else()
      list(APPEND functions_${dll} ${word})
    endif()
  endforeach()
  foreach(dll IN LISTS dlls)
    if(MSVC)
      target_link_options(${target} PRIVATE "/DELAYLOAD:${dll}")
      target_link_libraries(${target} PRIVATE delayimp)
    else()
      get_filename_component(library "${dll}" NAME_WE)
      _kestrin_import_library(${target} ${library} ${dll} --output-delaylib "${functions_${dll}}")
    endif()
  endforeach()
endfunction()

function(kestrin_import_from target)
  cmake_parse_arguments(I "" "LIBRARY;DLL" "FUNCTIONS" ${ARGN})
  if(NOT MSVC)
    _kestrin_import_library(${target} ${I_LIBRARY} ${I_DLL} --output-lib "${I_FUNCTIONS}")
  endif()
endfunction()
