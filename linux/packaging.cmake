# The Debian package, included from the top CMakeLists.txt before CPack: what
# linux/CMakeLists.txt and the programs' folders ship, as manifest.txt lists it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Debian's extended description: lines of at most 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Ambulon reaches the controller of an instrumented treadmill over the network,"
  "through a TCP or UDP socket of its own or through the treadmill's"
  "remote-control library, and sets the parameters of a perturbation"
  "(acceleration and deceleration). Gait and balance labs use it."
  "The package also holds treadmill-sim, a simulated controller for trying the"
  "panel without a treadmill.")
# dpkg-shlibdeps reads the Qt libraries the binaries link to.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The labels ask for "Times": a face with Times New Roman's widths, as on the
# lab's PCs (fonts-liberation carries the same face on older releases).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2 | fonts-liberation")
# The package's binaries are stripped, with no separate debug package:
# CPack's (CMake 3.25) lists the build machine's paths in its md5sums and
# gives it no copyright file, a broken package. The unstripped binaries stay
# in the build tree under the same build IDs, and a rebuild from the same
# source gives them again, for reading a crash from a lab.
set(CPACK_STRIP_FILES ON)
