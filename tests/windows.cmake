# The Windows build's own checks, run under Wine from the Linux build machine
# (scripts/windows makes the zip and the installer they check).
set(package ${CMAKE_BINARY_DIR}/ambulon-${PROJECT_VERSION}-win64)

add_test(NAME windows_package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/windows-package.sh
  ${package}.zip ${CMAKE_OBJDUMP} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${AMBULON_VENDOR}
  ${AMBULON_QT_PREFIX}/BUILDINFO.txt ${AMBULON_CYCLONEDX_SCHEMA})
set_tests_properties(windows_package PROPERTIES LABELS "windows;package")

# The Qt whose DLLs go into the zip was built from the sources its sources
# tarball holds: each file as BUILDINFO.txt and its .dsc give it, Debian's
# whole series (windows/qt5-patches.txt) and each fix the build adds. And
# --check-current's CVE verdict names a CVE that a newer changelog names and
# the build neither fixes nor answers in windows/vex.txt, and no other.
add_test(NAME qt_sources COMMAND bash -c [[
  set -e; work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
  "$1/scripts/qt5-mingw" --sources "$work/sources.tar"
  tar -xf "$work/sources.tar" -C "$work"
  /usr/bin/python3 "$1/windows/recipe.py" check-sources "$work"/*-sources "$2/BUILDINFO.txt"
  { printf 'qtbase-opensource-src (5.15.99+dfsg-1) unstable; urgency=medium\n\n  * %s\n\n -- T <t@example.org>  Mon, 01 Jan 2029 00:00:00 +0000\n\n' \
      "CVE-2026-19248 (answered), CVE-2023-51714 (in the series), CVE-2099-0001."; cat "$2/changelog/qtbase-opensource-src"; } >"$work/newest"
  ! verdict=$(/usr/bin/python3 "$1/windows/recipe.py" verdict qtbase-opensource-src "$2/changelog/qtbase-opensource-src" "$work/newest")
  echo "$verdict"; grep -q 'NEITHER: CVE-2099-0001$' <<<"$verdict"]]
  qt_sources ${PROJECT_SOURCE_DIR} ${AMBULON_QT_PREFIX})
set_tests_properties(qt_sources PROPERTIES LABELS "windows;package"
  ENVIRONMENT AMBULON_QT5_MINGW_CACHE=${AMBULON_QT_PREFIX})

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
  COMMAND --unix bash ${checks} installer ${CMAKE_BINARY_DIR}/signed/ambulon-${PROJECT_VERSION}-win64.exe
    ${CMAKE_BINARY_DIR}/manifest.txt ${AMBULON_CYCLONEDX_SCHEMA} ${CMAKE_BINARY_DIR}/signed/ca.pem)
set_tests_properties(wine_installer PROPERTIES FIXTURES_REQUIRED "wine;signed")

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

# Authenticode signing, with a certificate, a token, a time-stamping server
# and an OpenPGP key made for the test; the signed set stays for the Wine
# installer check.
add_test(NAME windows_signing COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/signing.sh
  ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${AMBULON_CYCLONEDX_SCHEMA} ${CMAKE_BINARY_DIR}/signed)
set_tests_properties(windows_signing PROPERTIES LABELS "windows;package" FIXTURES_SETUP signed)
