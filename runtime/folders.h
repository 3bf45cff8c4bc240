// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>

// The folder of the running program, in native form.
QString programFolder();

// Makes a folder the current one; fails with a RunError that names it.
void setCurrentFolder(const QString& folder);

// The folder path ending in exactly one separator (a root keeps its single one).
QString withTrailingSeparator(const QString& folder);

// Plain files are regular files and links to regular files that are neither hidden nor system.
bool isPlainFile(const QFileInfo& info);

// The directory enumeration: the plain file names (no folder part) that a pattern matches.
// A pattern ending in a separator matches every plain file of that folder; otherwise the part after
// the last separator is a wildcard pattern matched without regard to letter case. An empty pattern
// matches nothing. A folder that is missing or cannot be read fails with a RunError naming it, and
// a drive's root that is no longer mounted (its empty mount point left behind) is not ready.
QStringList plainFileNames(const QString& pattern);

// The subfolders of a folder by name (links to folders included), the hidden ones apart. Fails with
// a RunError naming the folder and the reason when it cannot be read.
struct Subfolders
{
    QStringList shown;
    QStringList hidden;
};
Subfolders subfolderNames(const QString& folder);

// Finds a file as Windows would: the path as spelt when it is a file, otherwise a file of the same
// folder whose name differs only in letter case (the first in code-point order); folders, broken
// links and devices are never taken for it. A folder spelt exactly so, with no such file, is given. The name is taken
// literally: wildcard characters match only themselves. Returns an empty string when none exists.
QString findFileIgnoringCase(const QString& path);
