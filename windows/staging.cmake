# Run by CPack on the staged tree before it packs it (CPACK_PRE_BUILD_SCRIPTS).
# The zip and the installer take each file's time and permissions from this
# tree; here they become the release time (SOURCE_DATE_EPOCH, which the build
# hands CPack) and plain read/write for the owner, read for everyone else.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT epoch MATCHES "^[0-9]+$")
  message(WARNING "No SOURCE_DATE_EPOCH: packaged files keep their build times")
  return()
endif()
execute_process(COMMAND chmod -R u=rwX,go=rX "${CPACK_TEMPORARY_DIRECTORY}" RESULT_VARIABLE modes)
execute_process(COMMAND find "${CPACK_TEMPORARY_DIRECTORY}" -exec touch -h -d "@${epoch}" {} +
  RESULT_VARIABLE times)
if(NOT modes EQUAL 0 OR NOT times EQUAL 0)
  message(FATAL_ERROR "Could not set the staged files' modes and times")
endif()
