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
    void initTestCase();
    void cleanup();
    void numbers_data();
    void numbers();
    void exactTimes_data();
    void exactTimes();
    void everyFlagHasItsOwnWords();
};

void tst_Report::initTestCase()
{
    qputenv("TZ", "UTC");
}

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

void tst_Report::exactTimes_data()
{
    QTest::addColumn<qint64>("ns");
    QTest::addColumn<QString>("expected");
    QTest::newRow("after 1970") << qint64(1700000000500000000) << u"2023-11-14 22:13:20.500000000"_s;
    QTest::newRow("the start of 1970") << qint64(0) << u"1970-01-01 00:00:00.000000000"_s;
    QTest::newRow("a fraction of a millisecond before 1970")
        << qint64(-500) << u"1969-12-31 23:59:59.999999500"_s;
    QTest::newRow("a second before 1970") << qint64(-1000000000) << u"1969-12-31 23:59:59.000000000"_s;
}

// The second and the nanoseconds after it add up to the time the file system holds.
void tst_Report::exactTimes()
{
    QFETCH(qint64, ns);
    QFETCH(QString, expected);
    QCOMPARE(exactTime(ns), expected);
}

// A player reads the words, never the identifiers scripts read: each flag has words of its own.
void tst_Report::everyFlagHasItsOwnWords()
{
    QSet<QString> seen { noiseWords() };
    for (int kind = 0; kind < suspectKinds; ++kind) {
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
