# What `cmake --install` gives the product's other modules (component Development: headers,
# static layers, the package configuration) and its operators (component Runtime: the DLLs that
# go beside the executables, the event message file and the operator guide). `cpack` packs the
# Runtime component into the ZIP an operator copies onto a machine.
include(CMakePackageConfigHelpers)

set_target_properties(kestrin_platform PROPERTIES EXPORT_NAME platform)
install(TARGETS kestrin_platform EXPORT KestrinTargets COMPONENT Development)
install(EXPORT KestrinTargets NAMESPACE Kestrin:: DESTINATION lib/cmake/Kestrin COMPONENT Development)
configure_package_config_file(cmake/KestrinConfig.cmake.in "${CMAKE_BINARY_DIR}/KestrinConfig.cmake"
                              INSTALL_DESTINATION lib/cmake/Kestrin)
write_basic_package_version_file("${CMAKE_BINARY_DIR}/KestrinConfigVersion.cmake" COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/KestrinConfig.cmake" "${CMAKE_BINARY_DIR}/KestrinConfigVersion.cmake"
        DESTINATION lib/cmake/Kestrin COMPONENT Development)

install(TARGETS opentracingprovider jaegertracing RUNTIME DESTINATION bin COMPONENT Runtime
        LIBRARY DESTINATION bin COMPONENT Runtime ARCHIVE DESTINATION lib COMPONENT Development)
install(FILES ${KESTRIN_RUNTIME_DLLS} DESTINATION bin COMPONENT Runtime)
if(TARGET eventmsg)
  install(FILES "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/eventmsg.dll" DESTINATION bin COMPONENT Runtime)
endif()
install(FILES docs/operator-guide.md DESTINATION doc COMPONENT Runtime)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME opentracingprovider)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime)
set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "DLLs beside the product's executables")
include(CPack)
