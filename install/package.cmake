# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made from the build folder with "cpack -G DEB". It holds whatever the install
# rules install, under /usr whatever prefix the build folder was configured with; dpkg-shlibdeps
# finds the libraries it depends on.
set(CPACK_PACKAGE_NAME brenvale)
set(CPACK_PACKAGE_VENDOR "The Brenvale and Quorrel team")
set(CPACK_PACKAGE_CONTACT "The Brenvale and Quorrel team <help@brenvale.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find the files that make a Sims game crash")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Downloaded families, houses, objects and mods can make The Sims crash. The
cure is to find the files added to the game folder since the game last
worked, and take them out again.
.
Brenvale saves a list of a game folder's files while the game works;
Quorrel compares that list with one saved after new downloads and names
the new files. Mendwell does the whole job in every subfolder: snapshots,
changes since a snapshot or a list, and files that look suspect.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Printing goes through CUPS, which libcups finds at run time; a machine without it simply has no printer.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
set(CPACK_PACKAGE_INSTALL_DIRECTORY brenvale)
include(CPack)
