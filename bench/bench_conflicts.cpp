// SPDX-License-Identifier: GPL-3.0-or-later
// "mendwell conflicts" beside "mendwell snapshot" of the same folder, in the same run: 30,000 packages
// (or the number given) of 5 to 40 resources each, a few of them shared, in 300 folders; and the peak
// memory of conflicts over 1,000,000 index entries (1,000 packages of 1,000), beside the snapshot's.
#include "benchtools.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <random>

namespace {

const QByteArray mendwell = MENDWELL_EXECUTABLE;

void appendWord(QByteArray& bytes, quint32 word)
{
    char le[4];
    qToLittleEndian(word, le);
    bytes.append(le, 4);
}

// A package of version 2 holding the given keys (type, group, instance), 4 bytes of data each, with no
// field stored once in the index header.
QByteArray package(const std::vector<std::array<quint64, 3>>& keys)
{
    QByteArray bytes(96, '\0');
    bytes.replace(0, 4, "DBPF");
    qToLittleEndian<quint32>(2, bytes.data() + 4);
    bytes += QByteArray(qsizetype(keys.size() * 4), 'r');
    const quint32 position = quint32(bytes.size());
    appendWord(bytes, 0);
    for (size_t i = 0; i < keys.size(); ++i) {
        appendWord(bytes, quint32(keys[i][0]));
        appendWord(bytes, quint32(keys[i][1]));
        appendWord(bytes, quint32(keys[i][2] >> 32));
        appendWord(bytes, quint32(keys[i][2]));
        appendWord(bytes, quint32(96 + 4 * i));
        appendWord(bytes, 0x80000004u);
        appendWord(bytes, 4);
        appendWord(bytes, 0);
    }
    qToLittleEndian<quint32>(quint32(keys.size()), bytes.data() + 36);
    qToLittleEndian<quint32>(quint32(bytes.size()) - position, bytes.data() + 44);
    qToLittleEndian<quint32>(3, bytes.data() + 60);
    qToLittleEndian<quint32>(position, bytes.data() + 64);
    return bytes;
}

void writeFile(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        qFatal("cannot write %s", path.constData());
    ::close(fd);
}

// Packages in 300 folders (Mods/CreatorN/SetM). One resource in fifty is one an earlier package holds
// too, as mods that clash do.
qint64 makeMods(const QByteArray& mods, int packages, int least, int most)
{
    std::mt19937_64 random(packages);
    static const quint32 types[] = { 0xE882D22F, 0x545AC67A, 0x034AEECB, 0x3C1AF1F2, 0x220557DA, 0x00B2D882 };
    std::vector<std::array<quint64, 3>> earlier;
    qint64 entries = 0;
    ::mkdir(mods.constData(), 0755);
    for (int i = 0; i < packages; ++i) {
        const QByteArray creator = mods + "/Creator" + QByteArray::number(i % 30);
        const QByteArray folder = creator + "/Set" + QByteArray::number(i % 300 / 30);
        ::mkdir(creator.constData(), 0755);
        ::mkdir(folder.constData(), 0755);
        const int count = least + int(random() % quint64(most - least + 1));
        std::vector<std::array<quint64, 3>> keys;
        for (int k = 0; k < count; ++k) {
            if (!earlier.empty() && random() % 50 == 0)
                keys.push_back(earlier[random() % earlier.size()]);
            else
                keys.push_back({ types[random() % 6], random() % 2 ? 0x80000000u : 0u, random() });
        }
        if (earlier.size() < 10000)
            earlier.push_back(keys.front());
        entries += count;
        writeFile(folder + "/Mod_" + QByteArray::number(i) + ".package", package(keys));
    }
    return entries;
}

long peakOf(const QByteArray& command)
{
    QProcess process;
    process.start(
        QCoreApplication::applicationFilePath(), { QStringLiteral("--peak-of"), QString::fromUtf8(command) });
    process.waitForFinished(-1);
    return process.readAllStandardOutput().trimmed().toLong();
}

}

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--peak-of") == 0) {
        std::printf("%ld\n", shellPeakKiB(argv[2]));
        return 0;
    }
    QCoreApplication app(argc, argv);
    const int packages = argc > 1 ? std::atoi(argv[1]) : 30000;
    QTemporaryDir work;
    const QByteArray mods = QFile::encodeName(work.filePath(QStringLiteral("Mods")));
    const QByteArray snapshot = QFile::encodeName(work.filePath(QStringLiteral("mods.snapshot")));
    const qint64 entries = makeMods(mods, packages, 5, 40);
    // The new files are written out first, so that no run competes with the kernel writing them back.
    ::sync();
    std::printf("\n%d packages of 5 to 40 resources (%lld index entries) in 300 folders\n", packages,
        static_cast<long long>(entries));

    const QString conflicts
        = QString::fromUtf8("'" + mendwell + "' conflicts '" + mods + "' --format tsv > /dev/null");
    const QString snap
        = QString::fromUtf8("'" + mendwell + "' snapshot '" + mods + "' -o '" + snapshot + "' > /dev/null");
    shellMs(conflicts, 1); // caches warm for both
    const std::vector<double> best = bestByTurns(5, { shellAction(snap), shellAction(conflicts) });
    const double snapshotMs = best[0];
    const double conflictsMs = best[1];
    // At most 3 times the snapshot: the peer's time over ours at least 1/3.
    reportAgainst("mendwell conflicts (peer: mendwell snapshot)", conflictsMs, snapshotMs, 1.0 / 3);

    QTemporaryDir big;
    const QByteArray bigMods = QFile::encodeName(big.filePath(QStringLiteral("Mods")));
    const qint64 million = makeMods(bigMods, 1000, 1000, 1000);
    const QByteArray bigSnapshot = QFile::encodeName(big.filePath(QStringLiteral("mods.snapshot")));
    const long conflictsKiB
        = peakOf("'" + mendwell + "' conflicts '" + bigMods + "' --format tsv > /dev/null; true");
    const long snapshotKiB
        = peakOf("'" + mendwell + "' snapshot '" + bigMods + "' -o '" + bigSnapshot + "' > /dev/null");
    std::printf("  peak memory of conflicts over %lld index entries: %.1f MiB   (target < 200 MiB: %s)   "
                "peer, snapshot of the same folder: %.1f MiB\n",
        static_cast<long long>(million), conflictsKiB / 1024.0,
        conflictsKiB >= 0 && conflictsKiB < 200 * 1024 ? "met" : "MISSED", snapshotKiB / 1024.0);
    return 0;
}
