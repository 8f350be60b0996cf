# The Windows build's own checks, run under Wine from the Linux build machine
# (scripts/windows makes the zip and the installer they check).
set(package ${CMAKE_BINARY_DIR}/ambulon-${PROJECT_VERSION}-win64)

add_test(NAME windows_package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-package.sh
  ${package}.zip ${CMAKE_OBJDUMP} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${AMBULON_VENDOR}
  ${AMBULON_QT_PREFIX}/BUILDINFO.txt ${AMBULON_CYCLONEDX_SCHEMA})
set_tests_properties(windows_package PROPERTIES LABELS "windows;package")

# The Qt whose DLLs go into the zip was built with every patch of Debian's
# series for its source version, security fixes included: its BUILDINFO.txt
# names each patch the project expects.
add_test(NAME qt_patches COMMAND bash -c [[
  missing=$(LC_ALL=C comm -13 <(/usr/bin/python3 "$3" read "$1" patch | LC_ALL=C sort) <(LC_ALL=C sort "$2"))
  [ -z "$missing" ] || { echo "$1 lacks the patches:" $missing; exit 1; }
  echo "$1 has all $(wc -l <"$2") patches of $2"]]
  qt_patches ${AMBULON_QT_PREFIX}/BUILDINFO.txt ${PROJECT_SOURCE_DIR}/windows/qt5-patches.txt
  ${PROJECT_SOURCE_DIR}/windows/recipe.py)
set_tests_properties(qt_patches PROPERTIES LABELS "windows;package")

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
  COMMAND --unix bash ${checks} installer ${package}.exe ${CMAKE_BINARY_DIR}/manifest.txt
    ${AMBULON_CYCLONEDX_SCHEMA})

# Upgrades: older installers, NSIS and MSI, packed from this same build with
# one more file, obsolete.txt, that the newer ones do not ship, and a stand-in
# velorun.dll one byte longer than this build's, so that an upgrade can be seen
# to replace it. 0.0.1 is packed as 0.1.0 was, without keep-library.dll: its
# uninstaller and its removal delete velorun.dll whatever it is. 0.0.2 is
# packed as this build packs.
set(old ${CMAKE_BINARY_DIR}/upgrade-old)
file(WRITE ${old}-extra/obsolete.txt "A file that only the older versions ship.\n")
file(WRITE ${old}-stand-in.cmake "file(APPEND \${CPACK_TEMPORARY_DIRECTORY}/velorun.dll \"\\n\")\n")
set(packed_as_0.0.1 "string(REGEX REPLACE \"!macro AmbulonKeepLibrary.*!macroend\"
  \"!macro AmbulonKeepLibrary FUNCTION FOLDER\\n!macroend\" CPACK_NSIS_DEFINES \"\${CPACK_NSIS_DEFINES}\")
unset(CPACK_AMBULON_KEEP_LIBRARY)")
set(packed_as_0.0.2 "")
foreach(version 0.0.1 0.0.2)
  file(WRITE ${old}-${version}.cmake "include(${CMAKE_BINARY_DIR}/CPackConfig.cmake)
set(CPACK_PACKAGE_VERSION ${version})
set(CPACK_PACKAGE_FILE_NAME ambulon-${version}-win64)
set(CPACK_INSTALLED_DIRECTORIES ${old}-extra .)
set(CPACK_GENERATOR NSIS External)
list(APPEND CPACK_PRE_BUILD_SCRIPTS ${old}-stand-in.cmake)
${packed_as_${version}}
")
  add_test(NAME upgrade_old_${version} COMMAND ${CMAKE_CPACK_COMMAND} --config ${old}-${version}.cmake
    -B ${old}/${version})
  set_tests_properties(upgrade_old_${version} PROPERTIES FIXTURES_SETUP upgrade LABELS "windows;package")
endforeach()
wine_test(wine_upgrade WORKDIR ${CMAKE_BINARY_DIR} LABELS package
  COMMAND --unix bash ${checks} upgrade ${old} ${package}.exe ${PROJECT_VERSION}
    $<TARGET_FILE:velorun> $<TARGET_FILE:fakevelorun>)
wine_test(wine_msi WORKDIR ${CMAKE_BINARY_DIR} LABELS package
  COMMAND --unix bash ${checks} msi ${old} ${package}.msi ${PROJECT_VERSION}
    $<TARGET_FILE:velorun> $<TARGET_FILE:fakevelorun> ${CMAKE_BINARY_DIR}/manifest.txt)
set_tests_properties(wine_upgrade wine_msi PROPERTIES FIXTURES_REQUIRED "wine;upgrade")

# Authenticode signing, with a certificate made for the test.
add_test(NAME windows_signing COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/signing.sh
  ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(windows_signing PROPERTIES LABELS "windows;package")
