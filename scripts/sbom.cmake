# Run by CPack after it has made the packages (CPACK_POST_BUILD_SCRIPTS): a
# CycloneDX bill of materials beside each, where CPack puts the packages, by
# scripts/sbom, from the files CPack staged for it; and for Windows, beside
# them, the VEX of their CVEs (written again, the same, after each package).
set(about --version ${CPACK_PACKAGE_VERSION} --commit ${CPACK_AMBULON_COMMIT} --time $ENV{SOURCE_DATE_EPOCH}
  --vendor ${CPACK_PACKAGE_VENDOR} --url ${CPACK_AMBULON_URL} --license ${CPACK_AMBULON_LICENSE})
# The packages that scripts/sign-windows packs again from signed files.
if(CPACK_AMBULON_SIGNED)
  list(APPEND about --signed)
endif()
foreach(package ${CPACK_PACKAGE_FILES})
  # The External generator hands over its metadata too, which is no package.
  if(NOT package MATCHES "\\.(zip|exe|msi|deb)$")
    continue()
  endif()
  set(buildinfo)
  if(CPACK_AMBULON_BUILDINFO)
    set(buildinfo --buildinfo ${CPACK_AMBULON_BUILDINFO})
  endif()
  execute_process(COMMAND /usr/bin/python3 ${CPACK_AMBULON_SOURCE_DIR}/scripts/sbom make ${package}
      --out ${CPACK_PACKAGE_DIRECTORY} --tree ${CPACK_TEMPORARY_DIRECTORY} --manifest ${CPACK_AMBULON_MANIFEST} ${buildinfo}
      ${about}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "scripts/sbom could not describe ${package}")
  endif()
endforeach()
if(CPACK_AMBULON_BUILDINFO)
  set(packages)
  foreach(ending zip exe msi)
    list(APPEND packages ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.${ending})
  endforeach()
  execute_process(COMMAND /usr/bin/python3 ${CPACK_AMBULON_SOURCE_DIR}/scripts/sbom vex ${packages}
      --out ${CPACK_PACKAGE_DIRECTORY} --buildinfo ${CPACK_AMBULON_BUILDINFO} ${about}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "scripts/sbom could not write the VEX")
  endif()
endif()
