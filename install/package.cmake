# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made from the build folder with "cpack -G DEB". It holds whatever the install
# rules install, under /usr whatever prefix the build folder was configured with; dpkg-shlibdeps
# finds the libraries the programs link. Its name, version, maintainer and homepage come from the
# top CMakeLists.txt.
set(CPACK_PACKAGE_NAME brenvale)
set(CPACK_PACKAGE_VENDOR "${BRENVALE_MAINTAINER_NAME}")
set(CPACK_PACKAGE_CONTACT "${BRENVALE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${BRENVALE_HOMEPAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find the files and mods that make a Sims game crash")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Downloaded families, houses, objects and mods can make The Sims crash. The
cure is to find the files added to the game folder since the game last
worked, and take them out again.
.
Brenvale saves a list of a game folder's files while the game works;
Quorrel compares that list with one saved after new downloads and names
the new files.
.
Mendwell does the whole job in every subfolder: it remembers a folder
while the game works, reports what changed since and the files that look
suspect, moves new files out of the folder and back without deleting
any, and guides the player through a 50/50 that takes half of the new
mods out at a time until the mods that break the game are found.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Mendwell's 50/50 keeps its state through Qt's SQLite driver, a plugin that Qt loads at run time and
# the library scan above cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# Printing goes through CUPS, which libcups finds at run time; a machine without it simply has no printer.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
set(CPACK_PACKAGE_INSTALL_DIRECTORY brenvale)
# Two packs of one commit give the same bytes: every time stamp in the package is the last commit's.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/reproducible.cmake)
set(CPACK_BRENVALE_SOURCE_DIR ${CMAKE_SOURCE_DIR})
include(CPack)
