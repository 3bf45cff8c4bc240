// SPDX-License-Identifier: GPL-3.0-or-later
#include "listsfolder.h"

#include "folders.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#else
#include <QFileInfo>
#endif

using namespace Qt::StringLiterals;

namespace {

// Folders that the package manager or an administrator fills: a player's lists never go there,
// even when the player is root and could write them.
bool isSystemProgramFolder(const QString& folder)
{
#ifdef Q_OS_UNIX
    const QString path = QDir::cleanPath(QDir::fromNativeSeparators(folder));
    for (const QString& system : { u"/usr"_s, u"/bin"_s, u"/sbin"_s, u"/opt"_s, u"/snap"_s }) {
        if (path == system || path.startsWith(system + u'/'))
            return true;
    }
#else
    Q_UNUSED(folder);
#endif
    return false;
}

}

bool listsBesidePrograms(const QString& programFolder)
{
    if (programFolder.isEmpty() || isSystemProgramFolder(programFolder))
        return false;
#ifdef Q_OS_UNIX
    // access() asks the kernel, so a read-only mount or an immutable folder counts as unwritable for
    // root too, where permission bits would not.
    return ::access(QFile::encodeName(programFolder).constData(), W_OK | X_OK) == 0;
#else
    return QFileInfo(programFolder).isWritable();
#endif
}

QString listsFolder(const QString& programFolder, const QString& documentsFolder)
{
    if (listsBesidePrograms(programFolder))
        return QDir::toNativeSeparators(programFolder);
    const QString folder = QDir(documentsFolder).filePath(u"Sims Folder Lists"_s);
    // When it cannot be made, the path is still returned: whoever uses it then reports why it fails.
    QDir().mkpath(folder);
    return QDir::toNativeSeparators(folder);
}

QString listsFolder()
{
    return listsFolder(programFolder(), QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}
