// SPDX-License-Identifier: GPL-3.0-or-later
// The words and numbers of reports for players: the same in the window and on the command line.
#include "report.h"

#include <QLocale>
#include <QSet>
#include <QTest>

using namespace mending;
using namespace Qt::StringLiterals;

class tst_Report : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void numbers_data();
    void numbers();
    void everyFlagHasItsOwnWords();
};

void tst_Report::cleanup()
{
    QLocale::setDefault(QLocale::c());
}

namespace {

struct NumberRow
{
    const char* name;
    QString (*make)();
    QString english;
    QString german;
};

const NumberRow numberRows[] = {
    { "one file", [] { return fileCount(1); }, u"1 file"_s, u"1 file"_s },
    { "no file", [] { return fileCount(0); }, u"0 files"_s, u"0 files"_s },
    { "files by the hundred thousand", [] { return fileCount(100000); }, u"100,000 files"_s,
        u"100.000 files"_s },
    { "right-aligned", [] { return fileCount(2, 9); }, u"  2 files"_s, u"  2 files"_s },
    { "a count", [] { return countText(1234567); }, u"1,234,567"_s, u"1.234.567"_s },
    { "bytes below a kilobyte", [] { return sizeText(1023); }, u"1,023 bytes"_s, u"1.023 bytes"_s },
    { "kilobytes", [] { return sizeText(1536); }, u"1.5 KB"_s, u"1,5 KB"_s },
    { "gigabytes", [] { return sizeText(qint64(3) << 30); }, u"3.0 GB"_s, u"3,0 GB"_s },
    { "every byte", [] { return exactSize(2049); }, u"2,049 bytes"_s, u"2.049 bytes"_s },
};

}

void tst_Report::numbers_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("expected");
    for (int row = 0; row < int(std::size(numberRows)); ++row) {
        QTest::addRow("%s, English", numberRows[row].name) << u"en_US"_s << row << numberRows[row].english;
        QTest::addRow("%s, German", numberRows[row].name) << u"de_DE"_s << row << numberRows[row].german;
    }
}

void tst_Report::numbers()
{
    QFETCH(QString, locale);
    QFETCH(int, row);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(locale));
    QCOMPARE(numberRows[row].make(), expected);
}

// A player reads the words, never the identifiers scripts read: each flag has words of its own.
void tst_Report::everyFlagHasItsOwnWords()
{
    QSet<QString> seen { noiseWords() };
    for (int kind = 0; kind <= int(Suspect::DoubledModsFolder); ++kind) {
        const Suspect suspect = Suspect(kind);
        const QString words = flagWords(suspect);
        QVERIFY2(!words.isEmpty() && !seen.contains(words), qPrintable(words));
        QVERIFY2(words != QString::fromLatin1(suspectName(suspect)), qPrintable(words));
        seen.insert(words);
        QCOMPARE(flagLine({ suspect, u"why"_s }), words + u" - why"_s);
    }
}

QTEST_GUILESS_MAIN(tst_Report)
#include "tst_report.moc"
