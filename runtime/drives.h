// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The drives a person would browse, each remembering the folder last opened on it.
// On Windows these are the drive letters; elsewhere the mounted volumes, the root "/" first.
class Drives
{
public:
    // Read again on every call: volumes come and go while the program runs.
    static QStringList roots();
    // A root that is, or once was, in the drive list.
    static bool isDrive(const QString& path);
    // The drive that holds a folder: the longest root that the folder lies under.
    static QString driveOf(const QString& folder);
    // A drive whose root cannot be listed now (unmounted, removed, unreadable) is not ready.
    static bool isReady(const QString& root);
    // The folder last opened on a drive, or its root; a remembered folder that has gone gives the root.
    static QString currentFolder(const QString& root);
    static void rememberFolder(const QString& folder);

    // Replaces the volumes found on the system, for tests: these roots count as mounted.
    static void setRootsForTesting(const QStringList& roots);
    // Goes back to the volumes found on the system.
    static void useSystemRoots();
};
