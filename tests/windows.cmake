# The Windows build's own checks, run under Wine from the Linux build machine
# (scripts/windows makes the zip and the installer they check).
set(package ${CMAKE_BINARY_DIR}/ambulon-${PROJECT_VERSION}-win64)

add_test(NAME windows_package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-package.sh
  ${package}.zip ${CMAKE_OBJDUMP} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(windows_package PROPERTIES LABELS "windows;package")

