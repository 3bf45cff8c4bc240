// SPDX-License-Identifier: GPL-3.0-or-later
#include "drives.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStorageInfo>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

struct DriveTable
{
    std::optional<QStringList> testRoots;
    QHash<QString, QString> folders;
    // Every root the drive list has shown: one that has since been unmounted is still a drive,
    // only not a ready one.
    QSet<QString> seen;
};

DriveTable& table()
{
    static DriveTable drives;
    return drives;
}

bool isPseudoFileSystem(const QStorageInfo& volume)
{
    static const QSet<QByteArray> pseudo = { "proc", "sysfs", "cgroup", "cgroup2", "devpts", "devtmpfs",
        "mqueue", "debugfs", "tracefs", "securityfs", "pstore", "bpf", "configfs", "fusectl", "hugetlbfs",
        "autofs", "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs", "ramfs" };
    if (pseudo.contains(volume.fileSystemType()))
        return true;
    const QString root = volume.rootPath();
    // Desktops mount USB sticks under /run/media/USER; the rest of /run is the system's.
    if (root.startsWith(u"/run/media/"_s))
        return false;
    for (const QString& system : { u"/proc"_s, u"/sys"_s, u"/dev"_s, u"/run"_s }) {
        if (root == system || root.startsWith(system + u'/'))
            return true;
    }
    return false;
}

QStringList systemRoots()
{
#ifdef Q_OS_WIN
    QStringList roots;
    for (const QFileInfo& drive : QDir::drives())
        roots.append(QDir::toNativeSeparators(drive.absolutePath()));
    return roots;
#else
    QStringList roots { u"/"_s };
    QStringList others;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || isPseudoFileSystem(volume))
            continue;
        const QString root = QDir::toNativeSeparators(volume.rootPath());
        if (root != u"/"_s && QFileInfo(root).isDir() && !others.contains(root))
            others.append(root);
    }
    others.sort();
    return roots + others;
#endif
}

bool isUnder(const QString& folder, const QString& root)
{
    if (folder.compare(root, Qt::CaseInsensitive) == 0)
        return true;
    const QString prefix = root.endsWith(QDir::separator()) ? root : root + QDir::separator();
    return folder.startsWith(prefix, Qt::CaseInsensitive);
}

}

QStringList Drives::roots()
{
    const QStringList found = table().testRoots ? *table().testRoots : systemRoots();
    for (const QString& root : found)
        table().seen.insert(root);
    return found;
}

bool Drives::isDrive(const QString& path)
{
    return table().seen.contains(path) || roots().contains(path);
}

QString Drives::driveOf(const QString& folder)
{
    QString best;
    for (const QString& root : roots()) {
        if (isUnder(folder, root) && root.size() > best.size())
            best = root;
    }
    return best;
}

bool Drives::isReady(const QString& root)
{
    const QFileInfo info(root);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
#ifndef Q_OS_WIN
    // An unmounted volume leaves its empty mount point behind, which belongs to the volume above.
    if (!table().testRoots && QDir::cleanPath(QStorageInfo(root).rootPath()) != QDir::cleanPath(root))
        return false;
#endif
    return true;
}

QString Drives::currentFolder(const QString& root)
{
    const QString folder = table().folders.value(root);
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    return root;
}

void Drives::rememberFolder(const QString& folder)
{
    const QString root = driveOf(folder);
    if (!root.isEmpty())
        table().folders.insert(root, folder);
}

void Drives::useSystemRoots()
{
    table().testRoots.reset();
    table().folders.clear();
    table().seen.clear();
}

void Drives::setRootsForTesting(const QStringList& roots)
{
    table().testRoots = roots;
    table().folders.clear();
    table().seen.clear();
}
