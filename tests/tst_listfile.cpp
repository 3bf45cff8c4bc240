// SPDX-License-Identifier: GPL-3.0-or-later
#include "testhelpers.h"

#include "listfile.h"
#include "namecodec.h"
#include "runerror.h"

#include <QProcess>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class tst_ListFile : public QObject
{
    Q_OBJECT
private slots:
    void compose_data();
    void compose();
    void saveBytes_data();
    void saveBytes();
    void saveReplacesWhole();
    void saveFailures_data();
    void saveFailures();
    void failedSaveKeepsOldList();
    void saveOnRealVolume_data();
    void saveOnRealVolume();
    void savedModeAndOwnerKept();
    void namesKeepTheirBytes_data();
    void namesKeepTheirBytes();
    void parse_data();
    void parse();
    void readFailures();
    void roundTrip();

private:
    QTemporaryDir m_dir;
};

void tst_ListFile::compose_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QStringList() << u"\r\n"_s;
    QTest::newRow("one") << QStringList { u"a.dat"_s } << u"a.dat\r\n\r\n"_s;
    QTest::newRow("kept as given") << QStringList { u" spaced ,comma\"q\""_s, u"b"_s }
                                   << u" spaced ,comma\"q\"\r\nb\r\n\r\n"_s;
}

void tst_ListFile::compose()
{
    QFETCH(QStringList, names);
    QFETCH(QString, text);
    QCOMPARE(composeListing(names), text);
}

void tst_ListFile::saveBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("27 bytes") << composeListing({ u"first.dat"_s,
        u"second.dat"_s }) << QByteArray::fromHex("66697273742E6461740D0A7365636F6E642E6461740D0A0D0A0D0A");
    QTest::newRow("4 bytes") << composeListing({}) << QByteArray::fromHex("0D0A0D0A");
    QTest::newRow("empty text") << QString() << QByteArray("\r\n");
    QTest::newRow("UTF-8 names") << composeListing({ u"caf\u00E9.iff"_s })
                                 << QByteArray("caf\xC3\xA9.iff\r\n\r\n\r\n");
}

void tst_ListFile::saveBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const QString path = m_dir.filePath(u"list.TXT"_s);
    saveListFile(path, text);
    QCOMPARE(fileBytes(path), bytes);
    QCOMPARE(fileBytes(path).size(), listFileBytes(text).size());
}

void tst_ListFile::saveReplacesWhole()
{
    const QString path = m_dir.filePath(u"replace.TXT"_s);
    writeBytes(path, QByteArray(10000, 'x'));
    saveListFile(path, u"a"_s);
    QCOMPARE(fileBytes(path), QByteArray("a\r\n"));
}

void tst_ListFile::saveFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << u"<dir>/missing/list.TXT"_s << int(ErrorNumber::PathNotFound)
                                    << u"does not exist"_s;
    QTest::newRow("a folder as the file") << u"<dir>"_s << int(ErrorNumber::PathFileAccess) << u"folder"_s;
    QTest::newRow("disk full") << u"/dev/full"_s << int(ErrorNumber::DiskFull)
                               << u"No space left on device"_s;
    QTest::newRow("not writable") << u"/proc/version"_s << int(ErrorNumber::PermissionDenied) << QString();
}

void tst_ListFile::saveFailures()
{
    QFETCH(QString, path);
    QFETCH(int, number);
    QFETCH(QString, reason);
    path.replace(u"<dir>"_s, m_dir.path());
    try {
        saveListFile(path, u"a.dat\r\n"_s);
        QFAIL("the save did not fail");
    } catch (const RunError& error) {
        QCOMPARE(error.number(), number);
        QVERIFY2(error.description().contains(path), qPrintable(error.description()));
        QVERIFY2(error.description().contains(reason), qPrintable(error.description()));
    }
}

void tst_ListFile::failedSaveKeepsOldList()
{
    // An immutable folder refuses the temporary file even to root; the old list must stay whole.
    QTemporaryDir locked;
    const QString path = locked.filePath(u"old.TXT"_s);
    writeBytes(path, "old.dat\r\n\r\n\r\n");
    if (QProcess::execute(u"chattr"_s, { u"+i"_s, locked.path() }) != 0)
        QSKIP("chattr +i is not available on this file system");
    auto unlock = qScopeGuard([&] { QProcess::execute(u"chattr"_s, { u"-i"_s, locked.path() }); });
    QVERIFY_THROWS_EXCEPTION(RunError, saveListFile(path, u"new.dat\r\n\r\n"_s));
    QCOMPARE(fileBytes(path), QByteArray("old.dat\r\n\r\n\r\n"));
    QCOMPARE(QDir(locked.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void tst_ListFile::saveOnRealVolume_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("names");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("reason");
    QTest::newRow("full disk, short listing")
        << u"full"_s << 3 << int(ErrorNumber::DiskFull) << u"No space left on device"_s;
    QTest::newRow("full disk, long listing")
        << u"full"_s << 20000 << int(ErrorNumber::DiskFull) << u"No space left on device"_s;
    QTest::newRow("read-only volume")
        << u"read-only"_s << 3 << int(ErrorNumber::PermissionDenied) << u"Read-only file system"_s;
}

void tst_ListFile::saveOnRealVolume()
{
    // A buffered write seems to succeed on a full volume; the failure comes only when the bytes
    // reach it. The old list must keep every byte, and no confirmation may come.
    QFETCH(QString, fault);
    QFETCH(int, names);
    QFETCH(int, number);
    QFETCH(QString, reason);
    TmpfsMount volume;
    SKIP_UNLESS_MOUNTED(volume);
    const QString path = volume.filePath(u"old.TXT"_s);
    const QByteArray old = "kept.dat\r\nmore.dat\r\n\r\n\r\n";
    writeBytes(path, old);
    if (fault == u"full"_s)
        volume.fill();
    else
        QVERIFY(volume.makeReadOnly());

    QStringList listing;
    for (int i = 0; i < names; ++i)
        listing.append(u"new file %1.package"_s.arg(i));
    try {
        saveListFile(path, composeListing(listing));
        QFAIL("the save was confirmed");
    } catch (const RunError& error) {
        QCOMPARE(error.number(), number);
        QVERIFY2(error.description().contains(path), qPrintable(error.description()));
        QVERIFY2(error.description().contains(reason), qPrintable(error.description()));
    }
    QCOMPARE(fileBytes(path), old);
    // Nothing left behind but the list and the filler.
    QCOMPARE(QDir(volume.path()).entryList(QDir::Files | QDir::Hidden).size(), fault == u"full"_s ? 2 : 1);
}

void tst_ListFile::savedModeAndOwnerKept()
{
    const QString path = m_dir.filePath(u"shared.TXT"_s);
    writeBytes(path, "old\r\n");
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0604) == 0);
    saveListFile(path, u"a.dat\r\n"_s);
    QCOMPARE(fileBytes(path), QByteArray("a.dat\r\n\r\n"));
    struct stat info;
    QVERIFY(::stat(QFile::encodeName(path).constData(), &info) == 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0604));
}

void tst_ListFile::namesKeepTheirBytes_data()
{
    // Each name's bytes go through a list file and come back the same; distinct bytes stay distinct.
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII") << QByteArray("plain.package");
    QTest::newRow("UTF-8 of every length") << QByteArray("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80.iff");
    QTest::newRow("Latin-1 e acute") << QByteArray("Caf\xE9.dat");
    QTest::newRow("Latin-1 e grave") << QByteArray("Caf\xE8.dat");
    QTest::newRow("lone continuation bytes") << QByteArray("a\x80\xBF.dat");
    QTest::newRow("overlong slash") << QByteArray("a\xC0\xAF.dat");
    QTest::newRow("encoded surrogate") << QByteArray("a\xED\xA0\x80.dat");
    QTest::newRow("above U+10FFFF") << QByteArray("a\xF4\x90\x80\x80.dat");
    QTest::newRow("cut-off sequence at the end") << QByteArray("a.dat\xE2\x82");
    QTest::newRow("cut-off sequence before ASCII") << QByteArray("\xF0\x9F\x98.dat");
    QTest::newRow("character whose low half looks escaped") << QByteArray("\xF0\x90\x82\x80.dat");
    QTest::newRow("valid beside invalid") << QByteArray("\xC3\xA9\xE9\xC3\xA9");
    QTest::newRow("bytes F5 to FF") << QByteArray("\xF5\xF8\xFC\xFE\xFF");
}

void tst_ListFile::namesKeepTheirBytes()
{
    QFETCH(QByteArray, bytes);
    const QString name = decodeName(bytes);
    QCOMPARE(encodeName(name), bytes);
    const QString path = m_dir.filePath(u"bytes.TXT"_s);
    saveListFile(path, composeListing({ name, u"next.dat"_s }));
    QCOMPARE(fileBytes(path), bytes + "\r\nnext.dat\r\n\r\n\r\n");
    QCOMPARE(readListNames(path), QStringList({ name, u"next.dat"_s }));
    // A name that differs in its last byte is another name.
    QByteArray other = bytes;
    other.back() = char(other.back() ^ 0x01);
    QVERIFY(decodeName(other) != name);
}

void tst_ListFile::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("Brenvale's list") << QByteArray("a.dat\r\nb.dat\r\n\r\n\r\n")
                                     << QStringList { u"a.dat"_s, u"b.dat"_s };
    QTest::newRow("LF only") << QByteArray("a.dat\nb.dat\n\n") << QStringList { u"a.dat"_s, u"b.dat"_s };
    QTest::newRow("no final line end")
        << QByteArray("a.dat\r\nb.dat") << QStringList { u"a.dat"_s, u"b.dat"_s };
    QTest::newRow("empty") << QByteArray() << QStringList();
    QTest::newRow("empty lines only") << QByteArray("\r\n\r\n\n") << QStringList();
    QTest::newRow("comma is part of the name") << QByteArray("a,b.dat\r\n") << QStringList { u"a,b.dat"_s };
    QTest::newRow("quotes and blanks kept")
        << QByteArray("  \"x\" .dat \r\n") << QStringList { u"  \"x\" .dat "_s };
    QTest::newRow("FOUND is a name") << QByteArray("FOUND\r\n") << QStringList { u"FOUND"_s };
    QTest::newRow("lone CR stays in the name") << QByteArray("a\rb\r\n") << QStringList { u"a\rb"_s };
    QTest::newRow("invalid UTF-8 does not break the line")
        << QByteArray("bad\xFF\xFEname\r\nnext\r\n")
        << QStringList { u"bad"_s + QChar(0xDCFF) + QChar(0xDCFE) + u"name"_s, u"next"_s };
}

void tst_ListFile::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, names);
    QCOMPARE(parseListNames(bytes), names);
}

void tst_ListFile::readFailures()
{
    // A list deleted between the existence test and the read.
    const QString deleted = m_dir.filePath(u"deleted.txt"_s);
    writeBytes(deleted, "a\r\n");
    QFile::remove(deleted);
    try {
        readListNames(deleted);
        QFAIL("a deleted list was read");
    } catch (const RunError& error) {
        QVERIFY2(error.description().contains(deleted), qPrintable(error.description()));
    }
    const QString binary = m_dir.filePath(u"picture.txt"_s);
    writeBytes(binary, QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    try {
        readListNames(binary);
        QFAIL("binary data was read as a list");
    } catch (const RunError& error) {
        QVERIFY2(error.description().contains(u"binary"_s), qPrintable(error.description()));
    }
    try {
        readListNames(m_dir.path());
        QFAIL("a folder was read as a list");
    } catch (const RunError& error) {
        QVERIFY(error.description().contains(m_dir.path()));
    }
}

void tst_ListFile::roundTrip()
{
    const QStringList names { u"first.dat"_s, u"caf\u00E9.iff"_s, u"with,comma"_s, u" lead"_s };
    const QString path = m_dir.filePath(u"round.TXT"_s);
    saveListFile(path, composeListing(names));
    QCOMPARE(readListNames(path), names);
}

QTEST_GUILESS_MAIN(tst_ListFile)
#include "tst_listfile.moc"
