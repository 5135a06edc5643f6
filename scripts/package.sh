#!/usr/bin/env bash
# Makes the Debian package: installs what is missing, configures a build
# folder for a system install (the program in /usr/bin, the pictures in the
# user's pictures folder), builds the program and its files, and packs them
# into BUILD/quarlo_VERSION_ARCH.deb.
#
#   scripts/package.sh [BUILD]   BUILD is build-deb unless given
set -euo pipefail
build=$(realpath -m "${1:-build-deb}")
cd "$(dirname "$0")/.."
scripts/setup.sh package
# Debian's hardening flags (fortified functions, stack protector, relocations
# read-only and bound at start), without its debugging information: the
# package holds the program stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DQUARLO_SYSTEM_INSTALL=ON -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j"$(nproc)" --target quarlo quarlo_icon
(cd "$build" && cpack)
