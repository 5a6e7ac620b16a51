# The library is built as layers, one target each, from the handle owners at the bottom to the
# driver and the logging at the top. A layer sees only its own headers and those of the layers it
# names: each header is linked into an include folder of its layer's own, so an include that runs
# up the layers does not compile. The folders keep the subsystems; a layer may take files from
# more than one folder where the design calls across them.
#
# kestrin_layer(name [HEADERS h...] [INTERNAL h...] [SOURCES s...] [DEPENDS layer...] [LIBS lib...])
#   HEADERS are what modules of the product include, and are installed; INTERNAL headers serve
#   the library itself and stay inside. Without SOURCES the layer is header-only. Every layer is
#   installed as Kestrin::<name without "kestrin_">.
# kestrin_stage_headers(target scope h...)
#   Gives any target (a DLL, test support) its headers in the same way, without installing them.

function(kestrin_stage_headers target scope)
  set(root "${CMAKE_BINARY_DIR}/layers/${target}")
  foreach(header IN LISTS ARGN)
    get_filename_component(absolute "${header}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${absolute}")
      message(FATAL_ERROR "${target}: header ${header} does not exist")
    endif()
    file(RELATIVE_PATH relative "${CMAKE_SOURCE_DIR}" "${absolute}")
    get_filename_component(folder "${root}/${relative}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(CREATE_LINK "${absolute}" "${root}/${relative}" SYMBOLIC COPY_ON_ERROR)
  endforeach()
  target_include_directories(${target} ${scope} "$<BUILD_INTERFACE:${root}>")
endfunction()

function(kestrin_layer name)
  cmake_parse_arguments(L "" "" "HEADERS;INTERNAL;SOURCES;DEPENDS;LIBS" ${ARGN})
  if(L_SOURCES)
    add_library(${name} STATIC ${L_SOURCES} ${L_HEADERS} ${L_INTERNAL})
    target_compile_options(${name} PRIVATE ${KESTRIN_WARNINGS_AS_ERRORS})
    set(scope PUBLIC)
  else()
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  kestrin_stage_headers(${name} ${scope} ${L_HEADERS} ${L_INTERNAL})
  target_include_directories(${name} ${scope} "$<INSTALL_INTERFACE:include>")
  target_link_libraries(${name} ${scope} ${L_DEPENDS} ${L_LIBS})

  string(REGEX REPLACE "^kestrin_" "" exportName "${name}")
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${exportName})
  install(TARGETS ${name} EXPORT KestrinTargets ARCHIVE DESTINATION lib COMPONENT Development)
  foreach(header IN LISTS L_HEADERS)
    get_filename_component(absolute "${header}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    file(RELATIVE_PATH relative "${CMAKE_SOURCE_DIR}" "${absolute}")
    get_filename_component(folder "${relative}" DIRECTORY)
    install(FILES "${absolute}" DESTINATION "include/${folder}" COMPONENT Development)
  endforeach()
endfunction()
