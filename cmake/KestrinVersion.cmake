# The version and the publisher texts that every shipped DLL carries in its version resource. The
# version itself is the project's (project(... VERSION ...) in the top CMakeLists.txt), which
# also names the package version file and the ZIPs: change it there only.
#
# kestrin_version_resource(out_var file_name description)
#   Writes a resource script with a VERSIONINFO for the DLL file_name and puts its path in
#   out_var; add it to a target's sources, or compile it with the resource compiler by hand.
set(KESTRIN_COMPANY "Kestrin")
set(KESTRIN_PRODUCT "Kestrin OpenTracing provider")
set(KESTRIN_COPYRIGHT "Copyright (C) 2026 Kestrin")

function(kestrin_version_resource out_var file_name description)
  get_filename_component(base "${file_name}" NAME_WE)
  set(KESTRIN_FILE_NAME "${file_name}")
  set(KESTRIN_INTERNAL_NAME "${base}")
  set(KESTRIN_DESCRIPTION "${description}")
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${base}_version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/versionInfo.rc.in" "${script}" @ONLY)
  set(${out_var} "${script}" PARENT_SCOPE)
endfunction()
