#!/usr/bin/env bash
# Sourced through scripts/setup: the Debian packages each kind of work needs,
# and ensure_packages, which installs those missing.
# shellcheck disable=SC2034 # the lists are for the scripts that source this

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# ensure_packages NAME...: installs those of NAME not installed yet.
ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    # A fresh machine's package lists may be empty.
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Each package is named once, in the list of what it is for; each script asks
# for the lists it uses. Only names that both Debian 12 and 13 carry, and none
# tied to one release's compiler.
# Building the panel, its library and the simulator. fonts-liberation2: the
# labels' "Times" with Times New Roman's widths, as on the lab's PCs (on
# Debian 13 it brings fonts-liberation, which holds the same faces now).
# python3 and python3-debian: the build and CPack run the project's Python
# tools (linux/changelog.py, windows/*.py, scripts/sbom, scripts/debian-text).
build_packages=(g++ make cmake qtbase5-dev qtbase5-dev-tools fonts-dejavu-core fonts-liberation2
    python3 python3-debian)
# A virtual display, for a machine without one and for the tests; xrdb gives
# it a desktop's settings (Xft.dpi).
display_packages=(xvfb xauth x11-xserver-utils)
# Sharing that display by VNC, on loopback only (scripts/run and its test).
vnc_packages=(x11vnc)
# Driving a window as a person would, and screenshots of it.
drive_packages=(xdotool imagemagick)
# The format check's clang-format, the one tool pinned to a version: releases
# lay the same code out differently (an empty lambda is "{}" to 14 and "{ }" to
# 19), and one tree must get one verdict on every release. Debian 12 and 13
# both carry this one.
clang_format=clang-format-19
# The format check also runs shellcheck over the shell scripts.
format_packages=("$clang_format" shellcheck)
# The sanitizer and fuzzer build; llvm gives sanitizer reports their function names.
sanitize_packages=(clang libclang-rt-dev llvm)
# Debian's package tools: dpkg-shlibdeps and file for the .deb, dpkg-source for
# Qt's source.
debian_packages=(dpkg-dev file)
# The checks of the built tree and the tests' loopback-only network.
check_packages=(binutils iproute2 util-linux)
# The Linux package's metadata checks: its AppStream metadata and desktop entry.
package_check_packages=(appstream desktop-file-utils)
# Debian's package checker (scripts/check-package).
lintian_packages=(lintian)
# Counting a whole process's instructions (scripts/bench).
bench_packages=(valgrind)
# The Windows build: the MinGW-w64 cross compilers, Wine to run what they
# build, and the zip and installer makers.
windows_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    binutils-mingw-w64-x86-64 wine wine64 fonts-wine nsis zip unzip xz-utils)
# The MSI: wixl makes it, msibuild sets its package code, faketime gives both
# the release time.
msi_packages=(wixl msitools faketime)
# Windows resources: icotool packs the icon (scripts/icon), wrestool reads the
# icon and version back from the built programs.
winres_packages=(icoutils)
# Drawing the icon's sizes from the SVG (scripts/icon).
icon_packages=(librsvg2-bin)
# Releases (scripts/release): Authenticode signing (with a key on a PKCS#11
# token through OpenSSL's engine), the test's throwaway certificates, and the
# OpenPGP signature of SHA256SUMS.
release_packages=(osslsigncode openssl libengine-pkcs11-openssl gnupg)
# The signing test's token (SoftHSM2) and its time-stamping server (Python's
# http.server answering with openssl ts).
signing_test_packages=(softhsm2 python3)
# Checking the bills of materials against CycloneDX's schema (which comes
# from python3-cyclonedx-lib: cyclonedx_schema in scripts/setup).
sbom_check_packages=(python3-jsonschema)
# Building Qt for Windows and its libraries from Debian's sources
# (scripts/qt5-mingw): Qt's configure, the libraries' build systems, and
# Wine's wintab headers.
qt5_mingw_source_packages=(perl python3 libwine-dev meson ninja-build)
