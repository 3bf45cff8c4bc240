// SPDX-License-Identifier: GPL-3.0-or-later
// Moves the files of a folder out and back without end, in random pieces, for the test that kills it. With
// "recover" it only finishes what an earlier run left half done. It stops by itself only on an error. With
// "moveout PATH..." it moves those files out once and prints what moved and what stayed, for a test that runs
// it as another user.
#include "quarantine.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>
#include <dirent.h>

namespace {

void walk(const QByteArray& root, const QByteArray& relative, QList<QByteArray>& files)
{
    DIR* dir = ::opendir((relative.isEmpty() ? root : root + '/' + relative).constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
        if (entry->d_type == DT_DIR)
            walk(root, rel, files);
        else
            files.append(rel);
    }
    ::closedir(dir);
}

int fail(const mending::MoveReport& report)
{
    std::fprintf(stderr, "%s\n", qPrintable(report.error));
    for (const auto& [path, reason] : report.skipped)
        std::fprintf(stderr, "%s: %s\n", path.constData(), qPrintable(reason));
    return 3;
}

}

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: quarantine_worker FOLDER SEED move|recover|moveout [PATH...]\n");
        return 2;
    }
    const QString folder = QFile::decodeName(argv[1]);
    mending::Quarantine quarantine { QByteArray(argv[1]) };
    if (QByteArray(argv[3]) == "moveout") {
        QList<QByteArray> paths;
        for (int i = 4; i < argc; ++i)
            paths.append(argv[i]);
        const mending::MoveReport report = quarantine.moveOut(paths);
        for (const QByteArray& path : report.moved)
            std::printf("moved\t%s\n", path.constData());
        for (const auto& [path, reason] : report.skipped)
            std::printf("skipped\t%s\t%s\n", path.constData(), qPrintable(reason));
        if (!report.notice.isEmpty())
            std::printf("notice\t%s\n", qPrintable(report.notice));
        return report.ok() ? 0 : fail(report);
    }
    if (QByteArray(argv[3]) == "recover") {
        const mending::MoveReport report = quarantine.recover();
        return report.ok() && report.skipped.isEmpty() ? 0 : fail(report);
    }
    QRandomGenerator random(quint32(QByteArray(argv[2]).toUInt()));
    // The test counts the moments to the kill from here, past the program's start.
    std::printf("moving\n");
    std::fflush(stdout);
    for (;;) {
        QList<QByteArray> files;
        walk(QFile::encodeName(folder), {}, files);
        QList<QByteArray> chosen;
        const int share = random.bounded(1, 5); // a quarter of the files up to all of them
        for (const QByteArray& file : std::as_const(files)) {
            if (share == 4 || random.bounded(4) < share)
                chosen.append(file);
        }
        if (!chosen.isEmpty()) {
            const mending::MoveReport report = quarantine.moveOut(chosen);
            if (!report.ok() || !report.skipped.isEmpty())
                return fail(report);
        }
        const QList<mending::QuarantineBatch> batches = quarantine.batches();
        if (batches.isEmpty() || random.bounded(3) == 0)
            continue; // another batch on top
        const mending::QuarantineBatch& batch = batches.at(random.bounded(int(batches.size())));
        QList<QByteArray> some;
        if (random.bounded(2) == 0) {
            for (const mending::QuarantinedFile& file : batch.files) {
                if (file.out && random.bounded(2) == 0)
                    some.append(file.path);
            }
        }
        const mending::MoveReport report
            = random.bounded(4) == 0 ? quarantine.restore() : quarantine.restore(batch.name, some);
        if (!report.ok() || !report.skipped.isEmpty())
            return fail(report);
    }
}
