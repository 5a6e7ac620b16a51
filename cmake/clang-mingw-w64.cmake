# Cross-compiles for 64-bit Windows with clang and lld instead of GCC, on MinGW-w64's headers and
# GCC's posix libstdc++, so that what it builds shares one C++ run-time with the GCC build's
# binaries. Everything else is as in mingw-w64.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(KESTRIN_MINGW_GCC_DIR /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
# GNU's dlltool: the delay-import libraries of cmake/KestrinImports.cmake use its options.
set(CMAKE_DLLTOOL x86_64-w64-mingw32-dlltool)

# GCC's libstdc++ keeps its thread-local variables (those of std::call_once among them) in
# emulated TLS, as MinGW's GCC does for all code: clang must reach them the same way.
set(_cxx "${KESTRIN_MINGW_GCC_DIR}/include/c++")
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${_cxx} -isystem ${_cxx}/x86_64-w64-mingw32 -isystem ${_cxx}/backward -pthread -femulated-tls")
set(CMAKE_C_FLAGS_INIT "-pthread -femulated-tls")
# The compile flags reach the link too, where the include options have nothing to do.
foreach(_kind EXE SHARED MODULE)
  set(CMAKE_${_kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${KESTRIN_MINGW_GCC_DIR} -Wno-unused-command-line-argument")
endforeach()
