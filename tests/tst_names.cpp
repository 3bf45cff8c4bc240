#include "names.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_Names : public QObject
{
    Q_OBJECT
private slots:
    void sortOrder_data();
    void sortOrder();
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
