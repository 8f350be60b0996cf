# Run by CPack's External generator on the staged install: the MSI, by
# windows/msi.py, beside the zip and the NSIS installer.
list(GET CPACK_PACKAGE_EXECUTABLES 0 exe)
list(GET CPACK_PACKAGE_EXECUTABLES 1 label)
set(keep_library)
if(CPACK_AMBULON_KEEP_LIBRARY)
  set(keep_library --keep-library ${CPACK_AMBULON_KEEP_LIBRARY})
endif()
execute_process(COMMAND /usr/bin/python3 ${CPACK_AMBULON_SOURCE_DIR}/windows/msi.py
    --tree ${CPACK_TEMPORARY_DIRECTORY} --manifest ${CPACK_AMBULON_MANIFEST}
    --out ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi
    --name ${CPACK_NSIS_PACKAGE_NAME} --folder ${CPACK_PACKAGE_INSTALL_DIRECTORY}
    --version ${CPACK_PACKAGE_VERSION} --commit ${CPACK_AMBULON_COMMIT}
    --vendor ${CPACK_PACKAGE_VENDOR} --upgrade-code ${CPACK_AMBULON_MSI_UPGRADE_CODE}
    --icon ${CPACK_NSIS_MUI_ICON} --url ${CPACK_AMBULON_URL} --time $ENV{SOURCE_DATE_EPOCH}
    --shortcut ${exe}.exe=${label} ${keep_library}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "windows/msi.py could not make the MSI")
endif()
# CPack copies it beside the other packages, and hands it to the bill of materials.
set(CPACK_EXTERNAL_BUILT_PACKAGES ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi)
