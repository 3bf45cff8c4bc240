// Moving 5,000 files out of a game folder and back, beside plain renames of the same files: the difference
// is what the journal, the manifest and the checks cost.
#include "benchtools.h"
#include "filetree.h"
#include "quarantine.h"

#include <QDir>
#include <QFile>
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

void measure(const char* title, const QString& folder, int runs)
{
    const QByteArray root = QFile::encodeName(folder);
    const QList<QByteArray> files = filesOf(treeOf(root));
    std::printf("\n%s: %lld files\n", title, static_cast<long long>(files.size()));
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
    report("  move out into a new batch", out, 1000);
    report("    beside: bare renames of the same files", bareOut);
    report("  put the batch back", back, 1000);
    report("    beside: bare renames back", bareBack);
}

}

int main()
{
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString folder = dir.path() + QStringLiteral("/Mods");
    QDir().mkpath(folder);
    if (!makeTree(QFile::encodeName(folder), 5000, 1))
        return 1;
    measure("Quarantine on one volume", folder, 3);

    // A folder that is a mount point is copied, synced and compared file by file: slower by nature.
    const QString mounted = dir.path() + QStringLiteral("/Drive/Mods");
    QDir().mkpath(mounted);
    TmpfsMount mount(mounted);
    if (mount.mounted() && makeTree(QFile::encodeName(mounted), 5000, 2)) {
        measure("Quarantine of a folder that is a mount point (copy, sync, compare)", mounted, 1);
        const QString aside = dir.path() + QStringLiteral("/aside");
        report("    beside: cp -a to the other volume, then delete",
            shellMs(
                QStringLiteral("cp -a '%1/.' '%2' && find '%1' -mindepth 1 -delete").arg(mounted, aside), 1));
    }
    return 0;
}
