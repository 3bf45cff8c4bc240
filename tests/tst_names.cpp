// SPDX-License-Identifier: GPL-3.0-or-later
#include "names.h"

#include <QCollator>
#include <QLocale>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

class tst_Names : public QObject
{
    Q_OBJECT
private slots:
    void sortOrder_data();
    void sortOrder();
    void sameOrderAsTheCollator_data();
    void sameOrderAsTheCollator();
    void shownCaption_data();
    void shownCaption();
    void lineBreaks();
};

void tst_Names::sortOrder_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("case ignored") << QStringList { u"b.dat"_s, u"C.dat"_s, u"a.dat"_s }
                                  << QStringList { u"a.dat"_s, u"b.dat"_s, u"C.dat"_s };
    QTest::newRow("ties by code point, capital first")
        << QStringList { u"a.dat"_s, u"A.dat"_s } << QStringList { u"A.dat"_s, u"a.dat"_s };
    QTest::newRow("ties the same whatever the input order")
        << QStringList { u"A.dat"_s, u"a.dat"_s } << QStringList { u"A.dat"_s, u"a.dat"_s };
    QTest::newRow("punctuation, then digits, then letters") << QStringList { u"b"_s, u"_x"_s, u"10"_s,
        u"9"_s } << QStringList { u"_x"_s, u"10"_s, u"9"_s, u"b"_s };
    QTest::newRow("dictionary order, not code points")
        << QStringList { u"ümlaut"_s, u"Zeta"_s, u"Été"_s, u"apple"_s, u"Ypsilon"_s }
        << QStringList { u"apple"_s, u"Été"_s, u"ümlaut"_s, u"Ypsilon"_s, u"Zeta"_s };
    QTest::newRow("accent after plain letter, case ignored") << QStringList { u"cote"_s, u"Côte"_s, u"Cote"_s,
        u"côte"_s } << QStringList { u"Cote"_s, u"cote"_s, u"Côte"_s, u"côte"_s };
    QTest::newRow("prefix first") << QStringList { u"abc"_s, u"ab"_s } << QStringList { u"ab"_s, u"abc"_s };
    QTest::newRow("accented letters fold") << QStringList { u"\u00E9t\u00E9"_s, u"\u00C9T\u00C9"_s }
                                           << QStringList { u"\u00C9T\u00C9"_s, u"\u00E9t\u00E9"_s };
}

void tst_Names::sortOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    sortNames(names);
    QCOMPARE(names, sorted);
}

namespace {

// The order sorted lists must have, asked of the collator name by name: the locale's dictionary
// order with case ignored (the C locale sorting as US English), ties by code points.
bool collatorLess(const QString& a, const QString& b)
{
    static const QCollator collator = [] {
        QLocale locale;
        if (locale.language() == QLocale::C)
            locale = QLocale(QLocale::English, QLocale::UnitedStates);
        QCollator made(locale);
        made.setCaseSensitivity(Qt::CaseInsensitive);
        made.setNumericMode(false);
        made.setIgnorePunctuation(false);
        return made;
    }();
    const int folded = collator.compare(a, b);
    return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

QStringList randomNames(const QString& alphabet, int count, int maxLength, quint32 seed)
{
    QRandomGenerator random(seed);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        QString name;
        const int length = 1 + int(random.bounded(maxLength));
        for (int k = 0; k < length; ++k)
            name.append(alphabet.at(int(random.bounded(int(alphabet.size())))));
        names.append(name);
    }
    return names;
}

QString printableAscii()
{
    QString all;
    for (char16_t c = 0x20; c <= 0x7E; ++c)
        all.append(QChar(c));
    return all;
}

}

void tst_Names::sameOrderAsTheCollator_data()
{
    QTest::addColumn<QStringList>("names");
    // Few letters make many names that differ only in case or punctuation, where orders part.
    const QString close = u"aAbB09_-. ()!~'"_s;
    QTest::newRow("every printable ASCII character") << randomNames(printableAscii(), 20000, 12, 1);
    QTest::newRow("letters, digits and punctuation, short") << randomNames(close, 20000, 4, 2);
    QTest::newRow("letters, digits and punctuation, long") << randomNames(close, 20000, 20, 3);
    QTest::newRow("game file names") << randomNames(u"abcXYZ_.0123456789"_s, 50000, 16, 4);
    QStringList alike = randomNames(close, 20000, 6, 6);
    for (QString& name : alike)
        name.prepend(QStringView(u"Downloads Object_Series-").first(int(name.size()) % 3 + 22));
    QTest::newRow("long names alike in their first 22 characters") << alike;
    QTest::newRow("ASCII among accented and other names")
        << randomNames(close + u"éÉüßł中	"_s, 20000, 6, 5);
}

void tst_Names::sameOrderAsTheCollator()
{
    QFETCH(QStringList, names);
    QStringList expected = names;
    std::sort(expected.begin(), expected.end(), collatorLess);
    QStringList sorted = names;
    sortNames(sorted);
    QCOMPARE(sorted, expected);
    for (qsizetype i = 0; i + 1 < names.size(); ++i) {
        const QString& a = names.at(i);
        const QString& b = names.at(i + 1);
        QVERIFY2(nameLess(a, b) == collatorLess(a, b), qPrintable(a + u" | "_s + b));
    }
}

void tst_Names::shownCaption_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shown");
    QTest::newRow("access key") << u"&Get Folder"_s << u"Get Folder"_s;
    QTest::newRow("doubled") << u"houses && other stuff"_s << u"houses & other stuff"_s;
    QTest::newRow("in a path") << u"/games/Mods & Stuff/"_s << u"/games/Mods  Stuff/"_s;
    QTest::newRow("trailing") << u"end&"_s << u"end"_s;
    QTest::newRow("none") << u"Drive"_s << u"Drive"_s;
}

void tst_Names::shownCaption()
{
    QFETCH(QString, caption);
    QFETCH(QString, shown);
    QCOMPARE(::shownCaption(caption), shown);
}

void tst_Names::lineBreaks()
{
    QStringList names { u"a"_s, u"b\nc"_s, u"d\re"_s, u"f"_s };
    QCOMPARE(removeNamesWithLineBreaks(names), 2);
    QCOMPARE(names, (QStringList { u"a"_s, u"f"_s }));
}

QTEST_GUILESS_MAIN(tst_Names)
#include "tst_names.moc"
