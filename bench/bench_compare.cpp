// Quorrel on lists of 1,000,000 names each, 100,000 of them new: the comparison alone, the whole
// Start click with the result shown, and sort + comm on the same files.
#include "benchtools.h"

#include "checkfilefrm.h"
#include "listfile.h"
#include "newfiles.h"
#include "textarea.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <random>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int names = 1000000;
    constexpr int added = 100000;

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

    QTemporaryDir dir;
    saveListFile(dir.filePath(u"old.TXT"_s), composeListing(oldNames));
    saveListFile(dir.filePath(u"new.TXT"_s), composeListing(newNames));
    std::printf("Quorrel, old and new lists of %d names, %d of them new\n", names, added);

    QStringList result;
    const double compare = bestOf(5, [&] { result = newFileNames(oldNames, newNames); });
    if (result.size() != added)
        qFatal("the comparison found %lld new names", qlonglong(result.size()));
    const double readAndCompare = bestOf(3, [&] {
        result = newFileNames(
            readListNames(dir.filePath(u"old.TXT"_s)), readListNames(dir.filePath(u"new.TXT"_s)));
    });

    CheckFileFrm window;
    window.show();
    window.findChild<QLineEdit*>(u"tOldDir"_s)->setText(dir.filePath(u"old"_s));
    window.findChild<QLineEdit*>(u"tNewDir"_s)->setText(dir.filePath(u"new"_s));
    auto* start = window.findChild<QPushButton*>(u"Command1"_s);
    auto* shown = window.findChild<TextArea*>(u"NewFiletxt"_s);
    const double click = bestOf(3, [&] {
        start->click();
        QCoreApplication::processEvents();
        window.repaint();
    });
    if (shown->blockCount() < added)
        qFatal("the result box holds %d lines", shown->blockCount());

    const QString peer
        = u"cd '%1' && LC_ALL=C sort old.TXT > o.sorted && LC_ALL=C sort new.TXT > n.sorted && "
          "LC_ALL=C comm -13 o.sorted n.sorted > added.txt"_s.arg(dir.path());
    const double sortComm = shellMs(peer);

    report("comparison function (lists in memory)", compare, 300);
    report("reading both lists and comparing", readAndCompare);
    report("whole Start click, result shown", click, 2000);
    report("  peer: sort + sort + comm -13 (LC_ALL=C)", sortComm);
    std::printf("%-48s %9.1f x   (target >= 3: %s)\n", "  peer time / comparison function",
        sortComm / compare, sortComm / compare >= 3 ? "met" : "MISSED");
    std::printf("%-48s %9.1f x\n", "  peer time / whole Start click", sortComm / click);
    return 0;
}
