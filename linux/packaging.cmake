# The Debian package, included from the top CMakeLists.txt before CPack: what
# linux/CMakeLists.txt and the programs' folders ship, as manifest.txt lists it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Debian's extended description, whose paragraphs CPack parts with " .".
list(JOIN AMBULON_DESCRIPTION "\n\n" CPACK_PACKAGE_DESCRIPTION)
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
