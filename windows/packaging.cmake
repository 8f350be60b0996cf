# The Windows packages, included from the top CMakeLists.txt before CPack:
# ambulon-<version>-win64.zip holds one folder; the NSIS installer (and the
# MSI, windows/msi.cmake) put the same folder under Program Files. Both take
# what manifest.txt lists, nothing else.
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_FILE_NAME ambulon-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${PROJECT_NAME})
set(CPACK_PACKAGE_EXECUTABLES ambulon ${PROJECT_NAME})
# One registry key whatever the version (CPack's default names it by
# version), so that a newer installer finds the older one, runs its
# uninstaller first (removing the files the new version no longer ships), and
# leaves one entry in Add/Remove Programs and one in the Start menu.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY ${PROJECT_NAME})
set(AMBULON_UNINSTALL_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}")

# The Start-menu entry points into the one folder (CPack assumes bin/).
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_NSIS_DISPLAY_NAME ${PROJECT_NAME})
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/windows/ambulon.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/windows/ambulon.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME ambulon.exe)
# A velorun.dll that a lab put in the folder itself is the lab's
# (windows/keep-library.cpp). The installer sets it aside before the older
# version's uninstaller runs (which deletes velorun.dll whatever it is, up to
# 0.1.0, and puts a kept one back, since) and again before it writes its
# files, and puts it back once they are written; the uninstaller sets it aside
# before it deletes and puts it back when it is done. AmbulonKeepLibrary
# FUNCTION FOLDER calls keep-library.dll's setAside or putBack, and stops the
# installer or uninstaller, before it changes anything more, when that fails;
# the installer keeps no build time of it (it is not staged, so it has one).
set(CPACK_AMBULON_KEEP_LIBRARY ${PROJECT_BINARY_DIR}/bin/keep-library.dll)
# scripts/sign-windows gives makensis a signed keep-library.dll and the command
# that signs the uninstaller as makensis writes it (-DAMBULON_KEEP_LIBRARY,
# -DAMBULON_SIGN).
set(CPACK_NSIS_DEFINES "
  !include FileFunc.nsh
  !ifndef AMBULON_KEEP_LIBRARY
    !define AMBULON_KEEP_LIBRARY \"${CPACK_AMBULON_KEEP_LIBRARY}\"
  !endif
  !ifdef AMBULON_SIGN
    !uninstfinalize '\"\${AMBULON_SIGN}\" --file \"%1\"' = 0
  !endif
  !macro AmbulonKeepLibrary FUNCTION FOLDER
    InitPluginsDir
    SetDateSave off
    File \"/oname=$PLUGINSDIR\\keep-library.dll\" \"\${AMBULON_KEEP_LIBRARY}\"
    SetDateSave on
    System::Call '$PLUGINSDIR\\keep-library.dll::\${FUNCTION}(w \"\${FOLDER}\") i .R9 ?u'
    StrCmp $R9 1 +2
      Abort \"The treadmill library velorun.dll in \${FOLDER} could not be kept in place.\"
  !macroend
  Function un.onUninstSuccess
    !insertmacro AmbulonKeepLibrary putBack $INSTDIR
  FunctionEnd")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "!insertmacro AmbulonKeepLibrary setAside $INSTDIR")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "!insertmacro AmbulonKeepLibrary setAside $INSTDIR")
# CPack's template writes no size; Add/Remove Programs reads it in KiB
# (GetSize comes from NSIS's FileFunc.nsh, above).
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
    !insertmacro AmbulonKeepLibrary putBack $INSTDIR
    \${GetSize} \"$INSTDIR\" \"/S=0K\" $0 $1 $2
    IntFmt $0 \"0x%08X\" $0
    WriteRegDWORD SHCTX \"${AMBULON_UNINSTALL_KEY}\" \"EstimatedSize\" \"$0\"")
# One whole, as the zip: component by component, the installer would show a
# components page.
set(CPACK_MONOLITHIC_INSTALL ON)

# CPack's own NSIS template, edited where CPack offers no setting:
# - a 64-bit installer: Debian's 64-bit Wine cannot run NSIS's default 32-bit
#   one, and "Target" must open the script (makensis -X would do, but CPack
#   splits CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS at every space);
# - the options page CPack writes at packing time goes in without a time;
# - the licence page informs: the project's licence asks for no agreement, so
#   its button is Next;
# - a lab's velorun.dll is set aside before the older version's uninstaller
#   runs (above).
file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in template)
set(edits
  "!define VERSION" "Target amd64-unicode\n  !define VERSION"
  [[ReserveFile "NSIS.InstallOptions.ini"]]
  "SetDateSave off\n  ReserveFile \"NSIS.InstallOptions.ini\"\n  SetDateSave on"
  [[!insertmacro MUI_INSTALLOPTIONS_EXTRACT "NSIS.InstallOptions.ini"]]
  "SetDateSave off\n  !insertmacro MUI_INSTALLOPTIONS_EXTRACT \"NSIS.InstallOptions.ini\"\n  SetDateSave on"
  "@CPACK_NSIS_LICENSE_PAGE@"
  "!define MUI_PAGE_HEADER_TEXT \"Licence\"
  !define MUI_PAGE_HEADER_SUBTEXT \"The terms under which ${PROJECT_NAME} comes, for your information.\"
  !define MUI_LICENSEPAGE_TEXT_TOP \"${PROJECT_NAME}'s licence:\"
  !define MUI_LICENSEPAGE_TEXT_BOTTOM \"${PROJECT_NAME} is free software under the ${AMBULON_LICENSE} licence, which asks for no agreement. The licences of the parts it ships are in the licenses folder.\"
  !define MUI_LICENSEPAGE_BUTTON $(^NextBtn)
  @CPACK_NSIS_LICENSE_PAGE@"
  [[ExecWait '"$0" /S _?=$3']]
  "!insertmacro AmbulonKeepLibrary setAside $3\n  ExecWait '\"$0\" /S _?=$3'")
while(edits)
  list(POP_FRONT edits from to)
  string(FIND "${template}" "${from}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "CPack's NSIS template has no '${from}'")
  endif()
  string(REPLACE "${from}" "${to}" template "${template}")
endwhile()
file(WRITE ${PROJECT_BINARY_DIR}/nsis/NSIS.template.in "${template}")
list(APPEND CPACK_MODULE_PATH ${PROJECT_BINARY_DIR}/nsis)

# The zip and the installer take file times and permissions from the staged
# tree: the release time and plain permissions.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/windows/staging.cmake)

# The MSI, for IT departments that deploy by policy: CPack's External
# generator stages the same install, and windows/msi.cmake makes the package
# of it with wixl. Its upgrade code names Ambulon for Windows Installer
# forever: a newer MSI replaces an older one by it.
list(APPEND CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/windows/msi.cmake)
set(CPACK_AMBULON_MSI_UPGRADE_CODE 3268CF56-550F-4476-B557-664D43285E01)
# The bills of materials name what is inside Qt's DLLs as its BUILDINFO.txt does.
set(CPACK_AMBULON_BUILDINFO ${AMBULON_QT_PREFIX}/BUILDINFO.txt)
