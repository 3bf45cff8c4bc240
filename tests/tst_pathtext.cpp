// SPDX-License-Identifier: GPL-3.0-or-later
#include "pathtext.h"

#include <QTest>

using namespace mending;

class tst_PathText : public QObject
{
    Q_OBJECT
private slots:
    void forms_data();
    void forms();
};

void tst_PathText::forms_data()
{
    // A name's bytes, and how messages, tab-separated lines and JSON write it.
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("tsv");
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("plain") << QByteArray("Mods/a.package") << QStringLiteral("Mods/a.package")
                           << QByteArray("Mods/a.package") << QByteArray("\"Mods/a.package\"");
    QTest::newRow("tab, line feed, backslash, quote")
        << QByteArray("a\tb\nc\\d\"e") << QStringLiteral("a\\tb\\nc\\d\"e") << QByteArray("a\\tb\\nc\\\\d\"e")
        << QByteArray("\"a\\tb\\nc\\\\d\\\"e\"");
    QTest::newRow("other control bytes") << QByteArray("x\x01\r\x7F", 4) << QStringLiteral("x\\x01\\r\\x7f")
                                         << QByteArray("x\x01\r\x7F", 4) << QByteArray("\"x\\u0001\\r\x7F\"");
    QTest::newRow("UTF-8 of 2, 3 and 4 bytes")
        << QByteArray("\xC3\xA9\xE2\x9C\x93\xF0\x9F\x98\x80") << QStringLiteral("\u00E9\u2713\U0001F600")
        << QByteArray("\xC3\xA9\xE2\x9C\x93\xF0\x9F\x98\x80")
        << QByteArray("\"\xC3\xA9\xE2\x9C\x93\xF0\x9F\x98\x80\"");
    QTest::newRow("a Latin-1 byte") << QByteArray("caf\xE9") << QStringLiteral("caf\\xe9")
                                    << QByteArray("caf\xE9") << QByteArray("\"caf\\udce9\"");
    QTest::newRow("a stray continuation byte") << QByteArray("a\x80z") << QStringLiteral("a\\x80z")
                                               << QByteArray("a\x80z") << QByteArray("\"a\\udc80z\"");
    QTest::newRow("an overlong slash") << QByteArray("\xC0\xAF") << QStringLiteral("\\xc0\\xaf")
                                       << QByteArray("\xC0\xAF") << QByteArray("\"\\udcc0\\udcaf\"");
    QTest::newRow("an overlong three-byte form")
        << QByteArray("\xE0\x80\xAF") << QStringLiteral("\\xe0\\x80\\xaf") << QByteArray("\xE0\x80\xAF")
        << QByteArray("\"\\udce0\\udc80\\udcaf\"");
    QTest::newRow("an encoded surrogate")
        << QByteArray("\xED\xA0\x80") << QStringLiteral("\\xed\\xa0\\x80") << QByteArray("\xED\xA0\x80")
        << QByteArray("\"\\udced\\udca0\\udc80\"");
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80")
                                     << QStringLiteral("\\xf4\\x90\\x80\\x80")
                                     << QByteArray("\xF4\x90\x80\x80")
                                     << QByteArray("\"\\udcf4\\udc90\\udc80\\udc80\"");
    QTest::newRow("a sequence cut short") << QByteArray("ok\xE2\x9C") << QStringLiteral("ok\\xe2\\x9c")
                                          << QByteArray("ok\xE2\x9C") << QByteArray("\"ok\\udce2\\udc9c\"");
}

void tst_PathText::forms()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QFETCH(QByteArray, tsv);
    QFETCH(QByteArray, json);
    QCOMPARE(displayPath(name), shown);
    QCOMPARE(tsvField(name), tsv);
    QCOMPARE(jsonString(name), json);
}

QTEST_GUILESS_MAIN(tst_PathText)
#include "tst_pathtext.moc"
