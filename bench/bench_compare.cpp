// SPDX-License-Identifier: GPL-3.0-or-later
// Quorrel on old and new lists of 10,000, 100,000 and 1,000,000 names, a tenth of them new: reading
// and comparing, the whole Start click with the result shown, and the peak memory of the comparison,
// each beside sort + sort + comm -13 on the same files in the same run.
#include "benchtools.h"

#include "checkfilefrm.h"
#include "listfile.h"
#include "newfiles.h"
#include "textarea.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <random>

using namespace Qt::StringLiterals;

namespace {

// Run as a child process: reads and compares two lists and builds the result text, nothing else,
// so that its peak memory is that of the comparison.
int compareOnly(const char* oldPath, const char* newPath)
{
    const long before = memoryKiB("VmRSS");
    const ListBytes oldList = readListBytes(QString::fromLocal8Bit(oldPath));
    const ListBytes newList = readListBytes(QString::fromLocal8Bit(newPath));
    const NewFiles found = findNewFiles(oldList, newList);
    const QString text = newFilesText(found);
    std::printf("%ld %ld %zu\n", before, memoryKiB("VmHWM"), size_t(text.size()));
    return 0;
}

// Two figures, in KiB, printed by a run of this program with the given arguments.
std::pair<long, long> figuresOf(const QStringList& arguments)
{
    QProcess run;
    run.start(QCoreApplication::applicationFilePath(), arguments);
    run.waitForFinished(-1);
    const QList<QByteArray> words = run.readAllStandardOutput().simplified().split(' ');
    if (run.exitCode() != 0 || words.isEmpty())
        qFatal("the measuring run failed");
    return { words.value(0).toLong(), words.value(1).toLong() };
}

void writeLists(const QTemporaryDir& dir, int names, int added)
{
    QStringList oldNames, newNames;
    oldNames.reserve(names);
    newNames.reserve(names);
    for (int i = 0; i < names; ++i)
        oldNames.append(u"Downloads_%1_object.iff"_s.arg(i));
    for (int i = 0; i < names - added; ++i)
        newNames.append(oldNames.at(i + added));
    for (int i = 0; i < added; ++i)
        newNames.append(u"Downloads_new_%1_object.iff"_s.arg(i));
    std::mt19937 random(2005);
    std::shuffle(oldNames.begin(), oldNames.end(), random);
    std::shuffle(newNames.begin(), newNames.end(), random);
    saveListFile(dir.filePath(u"old.TXT"_s), composeListing(oldNames));
    saveListFile(dir.filePath(u"new.TXT"_s), composeListing(newNames));
}

void measure(CheckFileFrm& window, int names)
{
    const int added = names / 10;
    QTemporaryDir dir;
    writeLists(dir, names, added);
    const QString oldPath = dir.filePath(u"old.TXT"_s);
    const QString newPath = dir.filePath(u"new.TXT"_s);
    std::printf("\nQuorrel, old and new lists of %d names, %d of them new\n", names, added);

    const int runs = names >= 1000000 ? 3 : 7;
    NewFiles found;
    const double readAndCompare = bestOf(runs, [&] {
        const ListBytes oldList = readListBytes(oldPath);
        const ListBytes newList = readListBytes(newPath);
        found = findNewFiles(oldList, newList);
    });
    if (found.added.size() != size_t(added))
        qFatal("the comparison found %zu new names", found.added.size());

    window.findChild<QLineEdit*>(u"tOldDir"_s)->setText(dir.filePath(u"old"_s));
    window.findChild<QLineEdit*>(u"tNewDir"_s)->setText(dir.filePath(u"new"_s));
    auto* start = window.findChild<QPushButton*>(u"Command1"_s);
    auto* shown = window.findChild<TextArea*>(u"NewFiletxt"_s);
    const double click = bestOf(runs, [&] {
        start->click();
        QCoreApplication::processEvents();
        window.repaint();
    });
    if (shown->blockCount() < added)
        qFatal("the result box holds %d lines", shown->blockCount());

    const double sortComm
        = shellMs(u"cd '%1' && LC_ALL=C sort old.TXT > o.sorted && LC_ALL=C sort new.TXT > n.sorted && "
                  "LC_ALL=C comm -13 o.sorted n.sorted > added.txt"_s.arg(dir.path()),
            runs);

    reportAgainst("reading both lists and comparing", readAndCompare, sortComm, 3);
    reportAgainst("whole Start click, result shown", click, sortComm, 1.5);
    std::printf("  %-50s %9.1f ms\n", "  peer: sort + sort + comm -13 (LC_ALL=C)", sortComm);

    const auto [before, peak] = figuresOf({ u"--compare-only"_s, oldPath, newPath });
    const QString peerCommand
        = u"cd '%1' && LC_ALL=C sort old.TXT > o.sorted && LC_ALL=C sort new.TXT > "
          "n.sorted && LC_ALL=C comm -13 o.sorted n.sorted > added.txt"_s.arg(dir.path());
    const long peer = figuresOf({ u"--peak-of"_s, peerCommand }).first;
    const double onDisk = double(QFileInfo(oldPath).size() + QFileInfo(newPath).size()) / 1024;
    const double used = double(peak - before);
    std::printf("  %-50s %9.1f MiB  lists on disk %7.1f MiB  ratio %4.2f  (target <= 4: %s)\n",
        "peak memory of reading and comparing", used / 1024, onDisk / 1024, used / onDisk,
        used / onDisk <= 4 ? "met" : "MISSED");
    std::printf("  %-50s %9.1f MiB  (process alone %.1f MiB)\n", "  peak of that process (before reading)",
        double(peak) / 1024, double(before) / 1024);
    std::printf("  %-50s %9.1f MiB\n", "  peer: peak memory of sort + sort + comm", double(peer) / 1024);
    std::fflush(stdout);
}

}

int main(int argc, char* argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--compare-only") == 0)
        return compareOnly(argv[2], argv[3]);
    if (argc == 3 && qstrcmp(argv[1], "--peak-of") == 0) {
        const long peak = shellPeakKiB(argv[2]);
        std::printf("%ld\n", peak);
        return peak < 0 ? 1 : 0;
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CheckFileFrm window;
    window.show();
    // A size given as the argument measures that size alone.
    const QList<int> sizes
        = argc > 1 ? QList<int> { QByteArray(argv[1]).toInt() } : QList<int> { 10000, 100000, 1000000 };
    for (const int names : sizes)
        measure(window, names);
    return 0;
}
