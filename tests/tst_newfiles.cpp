#include "newfiles.h"

#include "listfile.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_NewFiles : public QObject
{
    Q_OBJECT
private slots:
    void compare_data();
    void compare();
    void report();
};

void tst_NewFiles::compare_data()
{
    QTest::addColumn<QByteArray>("oldList");
    QTest::addColumn<QByteArray>("newList");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<int>("total");

    const QByteArray saved = "a.dat\r\nb.dat\r\n\r\n\r\n";
    QTest::newRow("same list both sides") << saved << saved << QStringList() << 2;
    QTest::newRow("one added") << saved << QByteArray("a.dat\r\nb.dat\r\nc.dat\r\n\r\n\r\n")
                               << QStringList { u"c.dat"_s } << 3;
    QTest::newRow("empty new list") << saved << QByteArray() << QStringList() << 0;
    QTest::newRow("empty old list: every name is new, no empty lines")
        << QByteArray() << saved << QStringList { u"a.dat"_s, u"b.dat"_s } << 2;
    QTest::newRow("both empty") << QByteArray() << QByteArray() << QStringList() << 0;
    QTest::newRow("case differs: new")
        << QByteArray("a.dat\r\n") << QByteArray("A.DAT\r\n") << QStringList { u"A.DAT"_s } << 1;
    QTest::newRow("duplicates in the new list")
        << QByteArray("x\r\n") << QByteArray("n\r\nx\r\nn\r\n") << QStringList { u"n"_s, u"n"_s } << 3;
    QTest::newRow("a file named FOUND")
        << QByteArray("a\r\n") << QByteArray("a\r\nFOUND\r\n") << QStringList { u"FOUND"_s } << 2;
    QTest::newRow("FOUND in both") << QByteArray("FOUND\r\n") << QByteArray("FOUND\r\n") << QStringList()
                                   << 1;
    QTest::newRow("a comma is part of the name")
        << QByteArray("a\r\nb\r\n") << QByteArray("a,b\r\n") << QStringList { u"a,b"_s } << 1;
    QTest::newRow("LF-only against CR LF")
        << QByteArray("a\r\nb\r\n\r\n\r\n") << QByteArray("a\nb\nc\n\n") << QStringList { u"c"_s } << 3;
    QTest::newRow("leading blanks and quotes are exact")
        << QByteArray("a\r\n\"b\"\r\n") << QByteArray(" a\r\n\"b\"\r\nb\r\n")
        << QStringList { u" a"_s, u"b"_s } << 3;
    QTest::newRow("order of the new list kept")
        << QByteArray("m\r\n") << QByteArray("z\r\nm\r\na\r\n") << QStringList { u"z"_s, u"a"_s } << 3;
    QTest::newRow("no final line end")
        << QByteArray("a\r\n") << QByteArray("a\r\nb") << QStringList { u"b"_s } << 2;
}

void tst_NewFiles::compare()
{
    QFETCH(QByteArray, oldList);
    QFETCH(QByteArray, newList);
    QFETCH(QStringList, added);
    QFETCH(int, total);
    const QStringList newNames = parseListNames(newList);
    QCOMPARE(newFileNames(parseListNames(oldList), newNames), added);
    QCOMPARE(newNames.size(), total);
}

void tst_NewFiles::report()
{
    QCOMPARE(newFilesReport({}), QString());
    QCOMPARE(newFilesReport({ u"a.dat"_s, u"b c"_s }), u"        a.dat\r\n        b c\r\n"_s);
}

QTEST_GUILESS_MAIN(tst_NewFiles)
#include "tst_newfiles.moc"
