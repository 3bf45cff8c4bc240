// SPDX-License-Identifier: GPL-3.0-or-later
#include "dates.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_Dates : public QObject
{
    Q_OBJECT
private slots:
    void shortDate_data();
    void shortDate();
};

void tst_Dates::shortDate_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("text");
    QTest::newRow("US") << u"en_US"_s << QDate(2026, 12, 6) << u"12/06/26"_s;
    QTest::newRow("German dots") << u"de_DE"_s << QDate(2026, 12, 6) << u"12.06.26"_s;
    QTest::newRow("ISO dashes") << u"sv_SE"_s << QDate(2005, 2, 3) << u"02-03-05"_s;
    QTest::newRow("year 2000") << u"en_US"_s << QDate(2000, 1, 1) << u"01/01/00"_s;
    QTest::newRow("C locale") << u"C"_s << QDate(2026, 7, 9) << u"07/09/26"_s;
}

void tst_Dates::shortDate()
{
    QFETCH(QString, locale);
    QFETCH(QDate, date);
    QFETCH(QString, text);
    QCOMPARE(shortDateText(date, QLocale(locale)), text);
}

QTEST_GUILESS_MAIN(tst_Dates)
#include "tst_dates.moc"
