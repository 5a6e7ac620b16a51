# The library is built as layers, one target each, from the handle owners at the bottom to the
# driver and the logging at the top (docs/architecture.md draws them). A layer sees only its own
# headers and those of the layers it names: each header is linked into an include folder of its
# layer's own, so an include that runs up the layers does not compile. The folders keep the
# subsystems; a layer may stand above a layer of another folder where one subsystem builds on
# another's.
#
# kestrin_layer(name [HEADERS h...] [INTERNAL h...] [SOURCES s...] [DEPENDS layer...]
#               [INTERNALS_OF layer...] [LIBS lib...])
#   HEADERS are what modules of the product include, and are installed. INTERNAL headers serve
#   the layer itself, are never installed and are seen by no layer above, except one that names
#   this layer in INTERNALS_OF: a crossing docs/architecture.md gives the reason for, which stops at
#   that layer. Without SOURCES the layer is header-only. Every layer is installed as
#   Kestrin::<name without "kestrin_">.
# kestrin_stage_headers(target scope h...)
#   Gives any target (a DLL, test support) its headers in the same way, without installing them.

# Links each header, under its path in the source tree, into the folder root, made anew so that a
# header taken off a layer's list is gone. Only links: a copy would go stale when the header
# changes, so a file system without links fails the configure.
function(_kestrin_link_headers root)
  file(REMOVE_RECURSE "${root}")
  foreach(header IN LISTS ARGN)
    get_filename_component(absolute "${header}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${absolute}")
      message(FATAL_ERROR "${root}: header ${header} does not exist")
    endif()
    file(RELATIVE_PATH relative "${CMAKE_SOURCE_DIR}" "${absolute}")
    get_filename_component(folder "${root}/${relative}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(CREATE_LINK "${absolute}" "${root}/${relative}" SYMBOLIC)
  endforeach()
endfunction()

function(kestrin_stage_headers target scope)
  set(root "${CMAKE_BINARY_DIR}/layers/${target}")
  _kestrin_link_headers("${root}" ${ARGN})
  target_include_directories(${target} ${scope} "$<BUILD_INTERFACE:${root}>")
endfunction()

function(kestrin_layer name)
  cmake_parse_arguments(L "" "" "HEADERS;INTERNAL;SOURCES;DEPENDS;INTERNALS_OF;LIBS" ${ARGN})
  if(L_SOURCES)
    add_library(${name} STATIC ${L_SOURCES} ${L_HEADERS} ${L_INTERNAL})
    target_compile_options(${name} PRIVATE ${KESTRIN_WARNINGS_AS_ERRORS})
    set(scope PUBLIC)
  else()
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  kestrin_stage_headers(${name} ${scope} ${L_HEADERS})
  if(L_INTERNAL)
    if(NOT L_SOURCES)
      message(FATAL_ERROR "${name}: a header-only layer has no internal headers")
    endif()
    set(internalRoot "${CMAKE_BINARY_DIR}/layers/${name}.internal")
    _kestrin_link_headers("${internalRoot}" ${L_INTERNAL})
    target_include_directories(${name} PRIVATE "${internalRoot}")
    set_target_properties(${name} PROPERTIES KESTRIN_INTERNAL_INCLUDE "${internalRoot}")
  endif()
  # Read when the build is generated: the lower layer may be defined in a folder added later.
  foreach(lower IN LISTS L_INTERNALS_OF)
    if(NOT L_SOURCES)
      message(FATAL_ERROR "${name}: a header-only layer cannot use ${lower}'s internal headers")
    endif()
    target_include_directories(${name} PRIVATE "$<TARGET_PROPERTY:${lower},KESTRIN_INTERNAL_INCLUDE>")
  endforeach()
  # For the picture of the layers (scripts/layers-picture.sh): each layer's folder and crossings.
  file(RELATIVE_PATH folder "${CMAKE_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  set_property(GLOBAL APPEND PROPERTY KESTRIN_LAYER_LINES "layer ${name} ${folder}")
  foreach(lower IN LISTS L_INTERNALS_OF)
    set_property(GLOBAL APPEND PROPERTY KESTRIN_LAYER_LINES "internals ${name} ${lower}")
  endforeach()
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

# Writes what kestrin_layer recorded to <build>/layers/layers.txt, one line a layer ("layer NAME
# FOLDER") or crossing ("internals NAME LOWER"). Call once, after every layer is defined.
function(kestrin_write_layer_list)
  get_property(lines GLOBAL PROPERTY KESTRIN_LAYER_LINES)
  list(JOIN lines "\n" text)
  file(WRITE "${CMAKE_BINARY_DIR}/layers/layers.txt" "${text}\n")
endfunction()
