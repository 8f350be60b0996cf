# The Windows build's own checks, run under Wine from the Linux build machine
# (scripts/windows makes the zip and the installer they check).
set(package ${CMAKE_BINARY_DIR}/ambulon-${PROJECT_VERSION}-win64)

add_test(NAME windows_package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-package.sh
  ${package}.zip ${CMAKE_OBJDUMP} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${AMBULON_VENDOR})
set_tests_properties(windows_package PROPERTIES LABELS "windows;package")

# Where the end-to-end test clicks, measured on the Windows panel itself.
add_executable(e2e_layout e2e_layout.cpp testsupport.h)
# Qt Test's headers only: it runs where Qt5Test.dll is not.
target_link_libraries(e2e_layout PRIVATE ambulon_window)
target_include_directories(e2e_layout PRIVATE $<TARGET_PROPERTY:Qt5::Test,INTERFACE_INCLUDE_DIRECTORIES>)

set(checks ${CMAKE_CURRENT_SOURCE_DIR}/wine-checks.sh)
# The Linux build holds the end-to-end driver and the simulator it runs against.
set(AMBULON_LINUX_BUILD "" CACHE PATH "The Linux build folder, for the Windows end-to-end test")
if(AMBULON_LINUX_BUILD)
  wine_test(wine_e2e WORKDIR ${CMAKE_BINARY_DIR} LABELS e2e
    COMMAND --unix bash ${checks} e2e ${package}.zip ${AMBULON_LINUX_BUILD} $<TARGET_FILE:e2e_layout>)
endif()
wine_test(wine_planted_dll WORKDIR ${CMAKE_BINARY_DIR}
  COMMAND --unix bash ${checks} planted ${package}.zip $<TARGET_FILE:fakevelorun>)
wine_test(wine_installer WORKDIR ${CMAKE_BINARY_DIR} LABELS package
  COMMAND --unix bash ${checks} installer ${package}.exe)

# An upgrade: an older installer from a second tree that differs in version
# only, and ships one more file, obsolete.txt, that the newer one does not.
set(old ${CMAKE_BINARY_DIR}/upgrade-old)
file(WRITE ${old}-extra/obsolete.txt "A file that only the older version ships.\n")
file(WRITE ${old}-extra/install.cmake
  "install(FILES \"${old}-extra/obsolete.txt\" DESTINATION . COMPONENT Runtime)\n")
add_test(NAME upgrade_old_installer COMMAND sh -c "cmake -S \"$1\" -B \"$2\" -G \"$3\" -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_TESTING=OFF -DAMBULON_TEST_VERSION=0.0.1 -DCMAKE_PROJECT_INCLUDE=\"$2-extra/install.cmake\" \
  -DCMAKE_TOOLCHAIN_FILE=\"$4\" -DCMAKE_PREFIX_PATH=\"$5\" >/dev/null &&
  cmake --build \"$2\" --parallel 2 >/dev/null && cd \"$2\" && cpack -G NSIS >/dev/null"
  old ${PROJECT_SOURCE_DIR} ${old} ${CMAKE_GENERATOR} ${CMAKE_TOOLCHAIN_FILE} "${CMAKE_PREFIX_PATH}")
set_tests_properties(upgrade_old_installer PROPERTIES FIXTURES_SETUP upgrade LABELS "windows;package" TIMEOUT 900)
wine_test(wine_upgrade WORKDIR ${CMAKE_BINARY_DIR} LABELS package
  COMMAND --unix bash ${checks} upgrade ${old}/ambulon-0.0.1-win64.exe ${package}.exe ${PROJECT_VERSION})
set_tests_properties(wine_upgrade PROPERTIES FIXTURES_REQUIRED "wine;upgrade")

# Authenticode signing, with a certificate made for the test.
add_test(NAME windows_signing COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/signing.sh
  ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(windows_signing PROPERTIES LABELS "windows;package")
