// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The one folder where Brenvale's Save As opens and where Quorrel looks up list names typed without
// a folder. When the programs sit in a folder the user may write (a per-user or portable install,
// or the build folder), that folder keeps the lists, as it always has. A system-wide install is
// read-only for players, so each user then gets a folder of their own in the documents folder,
// made the first time it is asked for. The path is in native form.
QString listsFolder();

// The same choice for a given program folder and documents folder, so both cases can be tried.
QString listsFolder(const QString& programFolder, const QString& documentsFolder);

// Whether lists may be written beside programs in this folder: the user can write it, and it is not
// one of the system's own program folders (root could write those, but a package owns them).
bool listsBesidePrograms(const QString& programFolder);
