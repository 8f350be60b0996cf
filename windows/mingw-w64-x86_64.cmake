# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (posix threads, so
# that std::thread works). Qt for Windows comes from CMAKE_PREFIX_PATH
# (scripts/qt5-mingw prints where it is).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(AMBULON_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${AMBULON_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AMBULON_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${AMBULON_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot and Qt for Windows only;
# programs (moc, rcc, the compilers) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${AMBULON_MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
