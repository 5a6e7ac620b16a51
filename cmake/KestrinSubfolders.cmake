# kestrin_add_subfolders(): adds every immediate subfolder of the current source folder that has a
# CMakeLists.txt, so that a new tool or benchmark needs no edit here.
function(kestrin_add_subfolders)
  file(GLOB entries LIST_DIRECTORIES true "${CMAKE_CURRENT_SOURCE_DIR}/*")
  foreach(dir ${entries})
    if(EXISTS "${dir}/CMakeLists.txt")
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
