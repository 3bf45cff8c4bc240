// SPDX-License-Identifier: GPL-3.0-or-later
// Moving 5,000 files out of a game folder and back, beside plain renames of the same files: the difference
// is what the journal, the manifest and the checks cost.
#include "benchtools.h"
#include "filetree.h"
#include "quarantine.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QByteArray parentOf(const QByteArray& path)
{
    return path.left(path.lastIndexOf('/'));
}

// The least any mover must do: one rename per file, and the folders for them.
void bareRenames(const QByteArray& from, const QByteArray& to, const QList<QByteArray>& files)
{
    for (const QByteArray& file : files) {
        const QByteArray target = to + '/' + file;
        if (::rename((from + '/' + file).constData(), target.constData()) != 0) {
            QDir().mkpath(QFile::decodeName(parentOf(target)));
            ::rename((from + '/' + file).constData(), target.constData());
        }
    }
}

// Moves the files (every one, or every other one) out and back, runs times, and prints the best of each
// beside bare renames of the same files.
void measure(const char* title, const QString& folder, bool everyOther, int runs, double targetMs)
{
    const QByteArray root = QFile::encodeName(folder);
    const QList<QByteArray> all = filesOf(treeOf(root));
    QList<QByteArray> files;
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (!everyOther || i % 2 == 0)
            files.append(all.at(i));
    }
    std::printf("\n%s: %lld of %lld files\n", title, static_cast<long long>(files.size()),
        static_cast<long long>(all.size()));
    double out = 1e300, back = 1e300, bareOut = 1e300, bareBack = 1e300;
    for (int run = 0; run < runs; ++run) {
        mending::Quarantine quarantine(folder);
        out = std::min(out, bestOf(1, [&] { quarantine.moveOut(files); }));
        back = std::min(back, bestOf(1, [&] { quarantine.restore(); }));
        const QByteArray aside = root + " (aside)";
        bareOut = std::min(bareOut, bestOf(1, [&] { bareRenames(root, aside, files); }));
        bareBack = std::min(bareBack, bestOf(1, [&] { bareRenames(aside, root, files); }));
        QDir(QFile::decodeName(aside)).removeRecursively();
    }
    // A move that copies has no target of its own: its peer is a plain copy, printed by the caller.
    const auto reportMove = [targetMs](const char* what, double ms) {
        if (targetMs > 0)
            report(what, ms, targetMs);
        else
            report(what, ms);
    };
    reportMove("  move out into a new batch", out);
    report("    beside: bare renames of the same files", bareOut);
    reportMove("  put the batch back", back);
    report("    beside: bare renames back", bareBack);

    // The batch holds the files in folders like the game folder's; once it is empty they are removed, and
    // removing a folder costs what the volume makes it cost (with online discard, a great deal).
    QSet<QByteArray> folders;
    for (const QByteArray& file : std::as_const(files)) {
        for (qsizetype slash = file.indexOf('/'); slash > 0; slash = file.indexOf('/', slash + 1))
            folders.insert(file.left(slash));
    }
    const QByteArray empty = root + " (empty folders)";
    ::mkdir(empty.constData(), 0755);
    for (qsizetype i = 0; i < folders.size(); ++i)
        ::mkdir((empty + '/' + QByteArray::number(i)).constData(), 0755);
    ::sync();
    const double removing = bestOf(1, [&] {
        for (qsizetype i = 0; i < folders.size(); ++i)
            ::rmdir((empty + '/' + QByteArray::number(i)).constData());
    });
    ::rmdir(empty.constData());
    const QByteArray what = "    beside: rmdir of " + QByteArray::number(folders.size()) + " empty folders";
    report(what.constData(), removing);
}

}

int main()
{
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString mods = dir.path() + QStringLiteral("/Mods");
    QDir().mkpath(mods);
    if (!makeTree(QFile::encodeName(mods), 5000, 1))
        return 1;
    measure("Quarantine on one volume, every file (mod folders go whole)", mods, false, 3, 1000);

    // No folder goes whole: every file is renamed alone, and the batch remakes the folders around it.
    const QString mixed = dir.path() + QStringLiteral("/Mixed/Mods");
    QDir().mkpath(mixed);
    if (!makeTree(QFile::encodeName(mixed), 10000, 3))
        return 1;
    measure("Quarantine on one volume, every other file", mixed, true, 3, 1000);

    // A folder that is a mount point is copied, synced and compared file by file: slower by nature, so
    // its peer is a plain copy to the other volume.
    const QString mounted = dir.path() + QStringLiteral("/Drive/Mods");
    QDir().mkpath(mounted);
    TmpfsMount mount(QStringLiteral("256m"), mounted);
    if (mount.isMounted() && makeTree(QFile::encodeName(mounted), 5000, 2)) {
        measure("Quarantine of a folder that is a mount point (copy, sync, compare)", mounted, false, 1, 0);
        const QString aside = dir.path() + QStringLiteral("/aside");
        report("    beside: cp -a to the other volume, then delete",
            shellMs(
                QStringLiteral("cp -a '%1/.' '%2' && find '%1' -mindepth 1 -delete").arg(mounted, aside), 1));
    }
    return 0;
}
