// SPDX-License-Identifier: GPL-3.0-or-later
#include "newfiles.h"

#include "listfile.h"
#include "namecodec.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <set>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

class tst_NewFiles : public QObject
{
    Q_OBJECT
private slots:
    void compare_data();
    void compare();
    void report();
    void bytesAgainstReference_data();
    void bytesAgainstReference();
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

namespace {

// A list file's names as a plain reader sees them: split at LF, one CR before it dropped, empty
// lines no names.
std::vector<std::string> referenceLines(const QByteArray& bytes)
{
    std::vector<std::string> lines;
    for (const QByteArray& piece : bytes.split('\n')) {
        std::string line = piece.toStdString();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

QByteArray randomName(const QByteArray& alphabet, int maxLength, QRandomGenerator& random)
{
    QByteArray name;
    const int length = 1 + int(random.bounded(maxLength));
    for (int k = 0; k < length; ++k)
        name += alphabet.at(int(random.bounded(int(alphabet.size()))));
    return name;
}

// Random names from an alphabet of bytes, three in four of them taken from a shared set when one
// is given, laid out as a list whose lines end in CR LF or LF.
QByteArray randomList(const QByteArray& alphabet, int count, int maxLength, QRandomGenerator& random,
    const std::vector<QByteArray>& shared = {})
{
    QByteArray list;
    for (int i = 0; i < count; ++i) {
        if (!shared.empty() && random.bounded(4) != 0)
            list += shared[random.bounded(int(shared.size()))];
        else
            list += randomName(alphabet, maxLength, random);
        list += random.bounded(3) == 0 ? "\n" : "\r\n";
    }
    return list + "\r\n\r\n";
}

}

void tst_NewFiles::bytesAgainstReference_data()
{
    QTest::addColumn<QByteArray>("oldList");
    QTest::addColumn<QByteArray>("newList");

    QRandomGenerator random(1005);
    QByteArray bytes;
    for (int c = 1; c < 256; ++c) {
        if (c != '\n')
            bytes += char(c);
    }
    // Names shared by both lists, so that most new names are found in the old list.
    const auto sharedNames = [&](const QByteArray& alphabet, int count) {
        std::vector<QByteArray> names;
        for (int i = 0; i < count; ++i)
            names.push_back(randomName(alphabet, 12, random));
        return names;
    };
    const QByteArray letters = "abcAB._0123";
    const std::vector<QByteArray> few = sharedNames(letters, 50);
    QTest::newRow("short lists") << randomList(letters, 200, 4, random, few)
                                 << randomList(letters, 300, 4, random, few);
    const std::vector<QByteArray> many = sharedNames(letters, 50000);
    QTest::newRow("lists big enough for both cores")
        << randomList(letters, 90000, 14, random, many) << randomList(letters, 110000, 14, random, many);
    const std::vector<QByteArray> raw = sharedNames(bytes, 20000);
    QTest::newRow("every byte, valid UTF-8 or not")
        << randomList(bytes, 40000, 8, random, raw) << randomList(bytes, 40000, 8, random, raw);
    QTest::newRow("an empty old list") << QByteArray() << randomList(bytes, 100, 8, random);
    QTest::newRow("no final line end") << QByteArray("a\r\nb") << QByteArray("b\r\nc\r");

    // Both cores share the new list at its middle: the names on either side of that line, and at both
    // ends, are known new in one row and known old in the other, for an even and an odd count.
    for (const int count : { 100000, 100001 }) {
        const int half = count / 2;
        const QSet<int> edges { 0, half - 1, half, half + 1, count - 1 };
        QByteArray newList, oldWithEdges, oldWithoutEdges;
        for (int i = 0; i < count; ++i) {
            const QByteArray line = "name " + QByteArray::number(i) + "\r\n";
            newList += line;
            (edges.contains(i) ? oldWithEdges : oldWithoutEdges) += line;
        }
        QTest::addRow("%d names: those at the split are new", count) << oldWithoutEdges << newList;
        QTest::addRow("%d names: only those at the split are old", count) << oldWithEdges << newList;
    }
}

void tst_NewFiles::bytesAgainstReference()
{
    QFETCH(QByteArray, oldList);
    QFETCH(QByteArray, newList);
    const std::vector<std::string> oldLines = referenceLines(oldList);
    const std::vector<std::string> newLines = referenceLines(newList);
    const std::set<std::string> known(oldLines.begin(), oldLines.end());
    std::vector<std::string> expected;
    QStringList expectedNames;
    for (const std::string& line : newLines) {
        if (!known.count(line)) {
            expected.push_back(line);
            expectedNames.append(decodeName(QByteArrayView(line.data(), qsizetype(line.size()))));
        }
    }

    const NewFiles found = findNewFiles(oldList, newList);
    QCOMPARE(found.total, qsizetype(newLines.size()));
    QCOMPARE(found.added.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        QCOMPARE(found.added[i].toByteArray().toStdString(), expected[i]);
    QCOMPARE(newFilesText(found), newFilesReport(expectedNames));
    QCOMPARE(newFileNames(parseListNames(oldList), parseListNames(newList)), expectedNames);
}

QTEST_GUILESS_MAIN(tst_NewFiles)
#include "tst_newfiles.moc"
