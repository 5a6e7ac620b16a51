# What `cmake --install` gives the product's other modules (component Development: headers,
# static layers, the package configuration), its operators (component Runtime: the DLLs that go
# beside the executables, the event message file and the operator guide) and its developers
# (component Symbols: the debug information of the DLLs built here). `cpack` packs Runtime and
# Symbols into two ZIPs.
#
# The shipped DLLs are release copies made from the build tree's binaries, which keep their debug
# information for the tests: every DLL is stripped, and the debug information of those built here
# goes to a symbol file "<dll>.debug" that the stripped DLL names in its debug link (with its
# CRC), so that a debugger or tools/dumpstack finds it by name.
include(CMakePackageConfigHelpers)

set_target_properties(kestrin_platform PROPERTIES EXPORT_NAME platform)
install(TARGETS kestrin_platform EXPORT KestrinTargets COMPONENT Development)
install(EXPORT KestrinTargets NAMESPACE Kestrin:: DESTINATION lib/cmake/Kestrin COMPONENT Development)
configure_package_config_file(cmake/KestrinConfig.cmake.in "${CMAKE_BINARY_DIR}/KestrinConfig.cmake"
                              INSTALL_DESTINATION lib/cmake/Kestrin)
write_basic_package_version_file("${CMAKE_BINARY_DIR}/KestrinConfigVersion.cmake" COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/KestrinConfig.cmake" "${CMAKE_BINARY_DIR}/KestrinConfigVersion.cmake"
        DESTINATION lib/cmake/Kestrin COMPONENT Development)

install(TARGETS opentracingprovider jaegertracing ARCHIVE DESTINATION lib COMPONENT Development)

if(MINGW)
  set(_release "${CMAKE_BINARY_DIR}/release")
  set(_shipped "")
  set(_symbols "")
  # kestrin_release_dll(file depends [SYMBOLS]): the stripped copy of file in release/bin, and with
  # SYMBOLS its debug information in release/symbols/<name>.debug, named by the copy's debug link.
  function(kestrin_release_dll file depends)
    get_filename_component(name "${file}" NAME)
    set(copy "${_release}/bin/${name}")
    set(commands COMMAND ${CMAKE_COMMAND} -E make_directory "${_release}/bin" "${_release}/symbols")
    if(ARGV2 STREQUAL "SYMBOLS")
      set(symbols "${_release}/symbols/${name}.debug")
      list(APPEND commands COMMAND ${CMAKE_OBJCOPY} --only-keep-debug "${file}" "${symbols}"
                           COMMAND ${CMAKE_OBJCOPY} --strip-all "--add-gnu-debuglink=${symbols}" "${file}" "${copy}")
      set(_symbols ${_symbols} "${symbols}" PARENT_SCOPE)
    else()
      list(APPEND commands COMMAND ${CMAKE_OBJCOPY} --strip-all "${file}" "${copy}")
    endif()
    add_custom_command(OUTPUT "${copy}" ${symbols} ${commands} DEPENDS ${depends} COMMENT "Release copy of ${name}")
    set(_shipped ${_shipped} "${copy}" PARENT_SCOPE)
  endfunction()

  kestrin_release_dll("${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/opentracingprovider.dll" opentracingprovider SYMBOLS)
  kestrin_release_dll("${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/jaegertracing.dll" jaegertracing SYMBOLS)
  kestrin_release_dll("${_ot_dll}" "${_ot_dll}" SYMBOLS)
  # The GCC run-time's debug information is not ours to ship.
  foreach(_dll ${KESTRIN_RUNTIME_DLLS})
    if(NOT _dll STREQUAL _ot_dll)
      kestrin_release_dll("${_dll}" "${_dll}")
    endif()
  endforeach()
  add_custom_target(release_files ALL DEPENDS ${_shipped} ${_symbols})

  install(FILES ${_shipped} DESTINATION bin COMPONENT Runtime)
  install(FILES ${_symbols} DESTINATION symbols COMPONENT Symbols)
  if(TARGET eventmsg)
    # Resources only, no debug information.
    install(FILES "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/eventmsg.dll" DESTINATION bin COMPONENT Runtime)
  endif()
else()
  install(TARGETS opentracingprovider jaegertracing RUNTIME DESTINATION bin COMPONENT Runtime)
  install(FILES $<TARGET_PDB_FILE:opentracingprovider> $<TARGET_PDB_FILE:jaegertracing> DESTINATION symbols
          COMPONENT Symbols)
  install(FILES ${KESTRIN_RUNTIME_DLLS} DESTINATION bin COMPONENT Runtime)
endif()
install(FILES docs/operator-guide.md DESTINATION doc COMPONENT Runtime)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME opentracingprovider)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Symbols)
set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "DLLs beside the product's executables")
set(CPACK_COMPONENT_SYMBOLS_DISPLAY_NAME "Symbol files of the DLLs, for reading crash dumps")
set(CPACK_ARCHIVE_RUNTIME_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
set(CPACK_ARCHIVE_SYMBOLS_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}-symbols")
include(CPack)
