// SPDX-License-Identifier: GPL-3.0-or-later
#include "folders.h"

#include "drives.h"
#include "namecodec.h"
#include "runerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;

QString programFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void setCurrentFolder(const QString& folder)
{
    if (!QDir::setCurrent(folder))
        throw RunError(
            ErrorNumber::PathNotFound, u"The folder %1 cannot be made the current folder."_s.arg(folder));
}

QString withTrailingSeparator(const QString& folder)
{
    const QChar separator = QDir::separator();
    if (folder.endsWith(separator))
        return folder;
    return folder + separator;
}

bool isPlainFile(const QFileInfo& info)
{
    return info.isFile() && !info.isHidden();
}

namespace {

// Why a folder cannot be listed, in words for the user; empty when it can be.
QString unreadableReason(const QString& folder)
{
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(encodeName(folder).constData(), &info) != 0) {
        if (errno == ENOENT)
            return u"it does not exist (it may have been moved, deleted or unmounted)"_s;
        return qt_error_string(errno);
    }
    if (!S_ISDIR(info.st_mode))
        return u"it is not a folder"_s;
    return {};
#else
    const QFileInfo info(folder);
    if (!info.exists())
        return u"it does not exist (it may have been moved, deleted or unmounted)"_s;
    if (!info.isDir())
        return u"it is not a folder"_s;
    if (!info.isReadable() || !info.isExecutable())
        return u"permission denied"_s;
    return {};
#endif
}

}

QStringList plainFileNames(const QString& pattern)
{
    if (pattern.isEmpty())
        return {};
    const qsizetype cut = QDir::fromNativeSeparators(pattern).lastIndexOf(u'/') + 1;
    const QString folder = cut > 0 ? pattern.left(cut) : u"."_s;
    const QString namePattern = pattern.mid(cut);

    const QString reason = unreadableReason(folder);
    if (!reason.isEmpty())
        throw RunError(
            ErrorNumber::PathNotFound, u"The folder %1 cannot be read: %2."_s.arg(pattern.left(cut), reason));
    // An unplugged drive leaves its empty mount point behind: listing that folder would report an
    // empty drive, and a list saved from it would record no files at all.
    const QString cleanFolder = QDir::toNativeSeparators(QDir::cleanPath(folder));
    if (Drives::isDrive(cleanFolder) && !Drives::isReady(cleanFolder))
        throw RunError(ErrorNumber::DeviceUnavailable,
            u"The drive %1 is not ready: it is no longer mounted."_s.arg(pattern.left(cut)));

    const QRegularExpression match = namePattern.isEmpty()
        ? QRegularExpression()
        : QRegularExpression(QRegularExpression::wildcardToRegularExpression(namePattern),
            QRegularExpression::CaseInsensitiveOption);
    const auto wanted = [&](const QString& name) {
        return namePattern.isEmpty() || match.match(name, 0, QRegularExpression::NormalMatch).hasMatch();
    };
    QStringList names;
#ifdef Q_OS_UNIX
    // The folder is read by its bytes: a name that is not valid in the locale's encoding is still a
    // file the player may need to find, so it is gathered with its bytes kept (see namecodec.h).
    DIR* dir = ::opendir(encodeName(folder).constData());
    if (!dir)
        throw RunError(ErrorNumber::PathNotFound,
            u"The folder %1 cannot be read: %2."_s.arg(pattern.left(cut), qt_error_string(errno)));
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue; // hidden, and the . and .. entries
        // The entry's type comes with it; only links, and file systems that leave the type unknown,
        // need a look at the file itself.
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info;
            if (::fstatat(fd, entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode))
                continue; // folders, devices, sockets, FIFOs and broken links are no plain files
        } else if (entry->d_type != DT_REG) {
            continue;
        }
        const QString name = decodeName(entry->d_name);
        if (wanted(name))
            names.append(name);
    }
    ::closedir(dir);
#else
    QDirIterator it(folder, QDir::Files | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (wanted(it.fileName()))
            names.append(it.fileName());
    }
#endif
    return names;
}

Subfolders subfolderNames(const QString& folder)
{
    const QString reason = unreadableReason(folder);
    if (!reason.isEmpty())
        throw RunError(
            ErrorNumber::PathNotFound, u"The folder %1 cannot be opened: %2."_s.arg(folder, reason));
    Subfolders found;
#ifdef Q_OS_UNIX
    DIR* dir = ::opendir(encodeName(folder).constData());
    if (!dir) {
        const int error = errno;
        throw RunError(
            error == EACCES || error == EPERM ? ErrorNumber::PermissionDenied : ErrorNumber::PathNotFound,
            u"The folder %1 cannot be opened: %2."_s.arg(folder, qt_error_string(error)));
    }
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info;
            isFolder = ::fstatat(fd, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        if (isFolder)
            (name[0] == '.' ? found.hidden : found.shown).append(decodeName(name));
    }
    ::closedir(dir);
#else
    const QDir dir(folder);
    found.shown = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    const QStringList all = dir.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : all) {
        if (!found.shown.contains(name))
            found.hidden.append(name);
    }
#endif
    return found;
}

QString findFileIgnoringCase(const QString& path)
{
    // Only a file can be a list: a folder or a broken link of a similar name must not hide one.
    const QFileInfo asSpelt(path);
    if (asSpelt.isFile())
        return path;

    const QDir folder = asSpelt.absoluteDir();
    if (!folder.exists())
        return {};
    const QString wanted = asSpelt.fileName();
    QString found;
    QDirIterator it(
        folder.absolutePath(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (name.compare(wanted, Qt::CaseInsensitive) == 0 && it.fileInfo().isFile()
            && (found.isEmpty() || name < found))
            found = name;
    }
    if (found.isEmpty())
        return asSpelt.exists() ? path : QString(); // a folder as spelt is named as such when read
    const qsizetype cut = QDir::fromNativeSeparators(path).lastIndexOf(u'/') + 1;
    return path.left(cut) + found;
}
