# Copies the DLLs the binaries need at run time beside them: the GCC runtime and opentracing-cpp.
# Every module shares one C++ runtime, so objects may cross module boundaries as the interfaces require.
if(MINGW AND KESTRIN_MINGW_GCC_DIR)
  # clang on GCC's run-time (cmake/clang-mingw-w64.cmake): the toolchain names its folder.
  set(_stdcxx "${KESTRIN_MINGW_GCC_DIR}/libstdc++-6.dll")
  set(_gcc "${KESTRIN_MINGW_GCC_DIR}/libgcc_s_seh-1.dll")
elseif(MINGW)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                  OUTPUT_VARIABLE _stdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                  OUTPUT_VARIABLE _gcc OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(MINGW)
  find_file(_winpthread libwinpthread-1.dll PATHS /usr/x86_64-w64-mingw32/lib NO_DEFAULT_PATH)
  set(KESTRIN_RUNTIME_DLLS ${_stdcxx} ${_gcc} ${_winpthread})
endif()
get_target_property(_ot_dll OpenTracing::opentracing IMPORTED_LOCATION_RELEASE)
list(APPEND KESTRIN_RUNTIME_DLLS ${_ot_dll})
file(MAKE_DIRECTORY "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
foreach(_dll ${KESTRIN_RUNTIME_DLLS})
  if(NOT EXISTS "${_dll}")
    message(FATAL_ERROR "runtime DLL not found: ${_dll}")
  endif()
  file(COPY "${_dll}" DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
endforeach()
