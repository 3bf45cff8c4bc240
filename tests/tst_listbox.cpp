// SPDX-License-Identifier: GPL-3.0-or-later
#include "testhelpers.h"

#include "listbox.h"
#include "runerror.h"

using namespace Qt::StringLiterals;

class tst_ListBox : public QObject
{
    Q_OBJECT
private slots:
    void sortedAddItem_data();
    void sortedAddItem();
    void bulkAddMatchesOneByOne_data();
    void bulkAddMatchesOneByOne();
    void classicOperations();
    void invalidIndexesFail();
};

void tst_ListBox::sortedAddItem_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("added");
    QTest::addColumn<int>("newIndex");
    QTest::newRow("into empty") << QStringList() << u"m"_s << 0;
    QTest::newRow("first") << QStringList { u"b"_s, u"c"_s } << u"A"_s << 0;
    QTest::newRow("middle, case ignored") << QStringList { u"a"_s, u"c"_s } << u"B"_s << 1;
    QTest::newRow("last") << QStringList { u"a"_s, u"b"_s } << u"z"_s << 2;
}

void tst_ListBox::sortedAddItem()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, added);
    QFETCH(int, newIndex);
    QWidget parent;
    ListBox box(true, &parent);
    box.AddItems(existing);
    box.AddItem(added);
    QCOMPARE(box.NewIndex(), newIndex);
    QCOMPARE(box.List(newIndex), added);
}

void tst_ListBox::bulkAddMatchesOneByOne_data()
{
    QTest::addColumn<bool>("sorted");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("sorted merge") << true << QStringList { u"b"_s, u"d"_s }
                                  << QStringList { u"e"_s, u"a"_s, u"C"_s };
    QTest::newRow("sorted with duplicates")
        << true << QStringList { u"a"_s } << QStringList { u"a"_s, u"A"_s };
    QTest::newRow("unsorted append") << false << QStringList { u"z"_s } << QStringList { u"b"_s, u"a"_s };
}

void tst_ListBox::bulkAddMatchesOneByOne()
{
    QFETCH(bool, sorted);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, added);
    QWidget parent;
    ListBox bulk(sorted, &parent);
    ListBox single(sorted, &parent);
    for (const QString& item : existing) {
        bulk.AddItem(item);
        single.AddItem(item);
    }
    bulk.AddItems(added);
    for (const QString& item : added)
        single.AddItem(item);
    QCOMPARE(bulk.items(), single.items());
    QCOMPARE(bulk.List(bulk.NewIndex()), added.last());
    QCOMPARE(bulk.NewIndex(), single.NewIndex());
}

void tst_ListBox::classicOperations()
{
    QWidget parent;
    ListBox box(false, &parent);
    QCOMPARE(box.ListIndex(), -1);
    QCOMPARE(box.Text(), QString());
    box.AddItems({ u"a"_s, u"b"_s, u"c"_s });
    QCOMPARE(box.List(3), QString()); // one past the end reads empty
    box.AddItem(u"x"_s, 1);
    QCOMPARE(box.items(), (QStringList { u"a"_s, u"x"_s, u"b"_s, u"c"_s }));
    QCOMPARE(box.NewIndex(), 1);
    box.AddItem(u"end"_s, 4);
    QCOMPARE(box.List(4), u"end"_s);
    box.setListIndex(2);
    QCOMPARE(box.Text(), u"b"_s);
    box.setSelected(3, true);
    QCOMPARE(box.ListIndex(), 3);
    box.RemoveItem(0);
    QCOMPARE(box.ListCount(), 4);
    box.setListIndex(-1);
    QCOMPARE(box.ListIndex(), -1);
    box.Clear();
    QCOMPARE(box.ListCount(), 0);
    QCOMPARE(box.NewIndex(), -1);
}

void tst_ListBox::invalidIndexesFail()
{
    QWidget parent;
    ListBox box(false, &parent);
    box.AddItems({ u"a"_s });
    QVERIFY_THROWS_EXCEPTION(RunError, box.setListIndex(1));
    QVERIFY_THROWS_EXCEPTION(RunError, box.setListIndex(-2));
    QVERIFY_THROWS_EXCEPTION(RunError, box.List(2));
    QVERIFY_THROWS_EXCEPTION(RunError, box.List(-1));
    QVERIFY_THROWS_EXCEPTION(RunError, box.RemoveItem(1));
    QVERIFY_THROWS_EXCEPTION(RunError, box.AddItem(u"b"_s, 3));
    QCOMPARE(box.items(), QStringList { u"a"_s });
}

QTEST_MAIN(tst_ListBox)
#include "tst_listbox.moc"
