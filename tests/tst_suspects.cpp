// SPDX-License-Identifier: GPL-3.0-or-later
#include "mendtree.h"

#include "scan.h"
#include "suspects.h"

using namespace mending;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

// Script archives made for these tests, each a ZIP archive written byte for byte (none holds a "|", so
// they fit the tree's steps): one compiled module "mod/m.pyc", stored.
QByteArray scriptArchive()
{
    return QByteArray::fromHex(
        "504b030414000000000000002150f686fc810500000005000000090000006d6f642f6d2e70796342"
        "0d0d0a58504b0102140314000000000000002150f686fc8105000000050000000900000000000000"
        "000000008001000000006d6f642f6d2e707963504b05060000000001000100370000002c0000000000");
}

}

class tst_Suspects : public QObject
{
    Q_OBJECT
private slots:
    void flags_data();
    void flags();
    void reasonsArePlainLines();
    void scriptArchives_data();
    void scriptArchives();
    void rulesOfTheGameAndPlace_data();
    void rulesOfTheGameAndPlace();
    void withoutContentOnlyNamesAreJudged();
    void duplicatesAmongCheckedFilesOnly();
    void copyOfAnOlderLookAlike();
};

void tst_Suspects::flags_data()
{
    // Each check with a clean counterpart that must not be flagged.
    QTest::addColumn<QList<QByteArray>>("steps");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<QByteArray>>("expected"); // flag names; "noise" for noise
    const QByteArray zip = scriptArchive();
    QTest::newRow("zero bytes") << QList<QByteArray> { "file|Mods/a.package|" }
                                << QByteArray("Mods/a.package") << QList<QByteArray> { "zero-bytes" };
    QTest::newRow("zero bytes: clean") << QList<QByteArray> { "file|Mods/a.package|DBPF" }
                                       << QByteArray("Mods/a.package") << QList<QByteArray> {};
    QTest::newRow("package without DBPF")
        << QList<QByteArray> { "file|Mods/a.package|<html>error 404" } << QByteArray("Mods/a.package")
        << QList<QByteArray> { "not-a-package" };
    QTest::newRow("package shorter than its header")
        << QList<QByteArray> { "file|Mods/a.package|DB" } << QByteArray("Mods/a.package")
        << QList<QByteArray> { "not-a-package" };
    QTest::newRow("package without DBPF: clean, any letter case")
        << QList<QByteArray> { "file|Mods/a.PACKAGE|DBPF\x02" } << QByteArray("Mods/a.PACKAGE")
        << QList<QByteArray> {};
    QTest::newRow("script that is no ZIP")
        << QList<QByteArray> { "file|Mods/s.ts4script|print('hi')" } << QByteArray("Mods/s.ts4script")
        << QList<QByteArray> { "not-a-script" };
    QTest::newRow("script that is no ZIP: clean") << QList<QByteArray> { "file|Mods/s.ts4script|" + zip }
                                                  << QByteArray("Mods/s.ts4script") << QList<QByteArray> {};
    QTest::newRow("package 6 folders below Mods")
        << QList<QByteArray> { "file|Mods/1/2/3/4/5/6/a.package|DBPF" }
        << QByteArray("Mods/1/2/3/4/5/6/a.package") << QList<QByteArray> { "too-deep" };
    QTest::newRow("package 5 folders below Mods: clean")
        << QList<QByteArray> { "file|Mods/1/2/3/4/5/a.package|DBPF" }
        << QByteArray("Mods/1/2/3/4/5/a.package") << QList<QByteArray> {};
    QTest::newRow("script 2 folders below Mods")
        << QList<QByteArray> { "file|Mods/1/2/s.ts4script|" + zip } << QByteArray("Mods/1/2/s.ts4script")
        << QList<QByteArray> { "too-deep" };
    QTest::newRow("script 1 folder below Mods: clean")
        << QList<QByteArray> { "file|Mods/1/s.ts4script|" + zip } << QByteArray("Mods/1/s.ts4script")
        << QList<QByteArray> {};
    QTest::newRow("depth counted from the folder given when it has no Mods")
        << QList<QByteArray> { "file|1/2/s.ts4script|" + zip } << QByteArray("1/2/s.ts4script")
        << QList<QByteArray> { "too-deep" };
    QTest::newRow("zip in Mods") << QList<QByteArray> { "file|Mods/CC.zip|" + zip }
                                 << QByteArray("Mods/CC.zip") << QList<QByteArray> { "archive" };
    QTest::newRow("rar in Mods") << QList<QByteArray> { "file|Mods/Sub/CC.RAR|Rar!" }
                                 << QByteArray("Mods/Sub/CC.RAR") << QList<QByteArray> { "archive" };
    QTest::newRow("7z in Mods") << QList<QByteArray> { "file|Mods/CC.7z|7z" } << QByteArray("Mods/CC.7z")
                                << QList<QByteArray> { "archive" };
    QTest::newRow("archive outside Mods: clean")
        << QList<QByteArray> { "file|Mods/a.package|DBPF", "file|Backups/CC.zip|" + zip }
        << QByteArray("Backups/CC.zip") << QList<QByteArray> {};
    QTest::newRow("byte-identical duplicate")
        << QList<QByteArray> { "file|Mods/A/hair.package|DBPFsame", "file|Mods/B/hair2.package|DBPFsame" }
        << QByteArray("Mods/B/hair2.package") << QList<QByteArray> { "duplicate" };
    QTest::newRow("the first of two duplicates: clean")
        << QList<QByteArray> { "file|Mods/A/hair.package|DBPFsame", "file|Mods/B/hair2.package|DBPFsame" }
        << QByteArray("Mods/A/hair.package") << QList<QByteArray> {};
    QTest::newRow("same size, other bytes: clean")
        << QList<QByteArray> { "file|Mods/A/hair.package|DBPFsame", "file|Mods/B/hair2.package|DBPFdiff" }
        << QByteArray("Mods/B/hair2.package") << QList<QByteArray> {};
    // Files of one size are told apart by their first 4 KiB; those alike there are read to the end.
    const QByteArray alike = "DBPF" + QByteArray(5000, 'x');
    QTest::newRow("alike at the start, other bytes later: clean")
        << QList<QByteArray> { "file|Mods/a.package|" + alike + 'a', "file|Mods/b.package|" + alike + 'b' }
        << QByteArray("Mods/b.package") << QList<QByteArray> {};
    QTest::newRow("a copy of the second of two look-alikes")
        << QList<QByteArray> { "file|Mods/a.package|" + alike + 'a', "file|Mods/b.package|" + alike + 'b',
               "file|Mods/c.package|" + alike + 'b' }
        << QByteArray("Mods/c.package") << QList<QByteArray> { "duplicate" };
    QTest::newRow("browser copy beside its original")
        << QList<QByteArray> { "file|Mods/Hair.package|DBPFa", "file|Mods/Hair (1).package|DBPFb" }
        << QByteArray("Mods/Hair (1).package") << QList<QByteArray> { "browser-copy" };
    // Without the name it would copy, " (12)" is part of the creator's name.
    QTest::newRow("browser copy alone: clean")
        << QList<QByteArray> { "file|Mods/Hair (12).package|DBPFb" } << QByteArray("Mods/Hair (12).package")
        << QList<QByteArray> {};
    // Two empty files hold the same nothing: each is a broken download, neither a copy of the other.
    QTest::newRow("two empty files are no duplicates")
        << QList<QByteArray> { "file|Mods/a.package|", "file|Mods/b.package|" }
        << QByteArray("Mods/b.package") << QList<QByteArray> { "zero-bytes" };
    QTest::newRow("browser copy, byte-identical: the copy is flagged")
        << QList<QByteArray> { "file|Mods/Hair.package|DBPFa", "file|Mods/Hair (1).package|DBPFa" }
        << QByteArray("Mods/Hair (1).package") << QList<QByteArray> { "duplicate", "browser-copy" };
    QTest::newRow("browser copy, byte-identical: its original is clean")
        << QList<QByteArray> { "file|Mods/Hair.package|DBPFa", "file|Mods/Hair (1).package|DBPFa" }
        << QByteArray("Mods/Hair.package") << QList<QByteArray> {};
    QTest::newRow("brackets that are no copy: clean")
        << QList<QByteArray> { "file|Mods/Hair (long).package|DBPFb", "file|Mods/Hair(1).package|DBPFc",
               "file|Mods/Hair () .package|DBPFd" }
        << QByteArray("Mods/Hair (long).package") << QList<QByteArray> {};
    QTest::newRow("empty brackets are no copy: clean")
        << QList<QByteArray> { "file|Mods/Hair ().package|DBPFe" } << QByteArray("Mods/Hair ().package")
        << QList<QByteArray> {};
    QTest::newRow("a link is never read, not even for duplicates")
        << QList<QByteArray> { "file|Elsewhere/x.bin|not dbpf", "link|Mods/l.package|../Elsewhere/x.bin",
               "file|Mods/same.package|../Elsewhere/x.bin" }
        << QByteArray("Mods/l.package") << QList<QByteArray> {};
    QTest::newRow("tray file in Mods")
        << QList<QByteArray> { "file|Mods/0x1.trayitem|t" } << QByteArray("Mods/0x1.trayitem")
        << QList<QByteArray> { "tray-file" };
    QTest::newRow("household file in Mods")
        << QList<QByteArray> { "file|Mods/x.householdbinary|t" } << QByteArray("Mods/x.householdbinary")
        << QList<QByteArray> { "tray-file" };
    QTest::newRow("tray file in Tray: clean")
        << QList<QByteArray> { "file|Mods/a.package|DBPF", "file|Tray/0x1.trayitem|t" }
        << QByteArray("Tray/0x1.trayitem") << QList<QByteArray> {};
    QTest::newRow("empty log is noise, never flagged")
        << QList<QByteArray> { "file|Mods/mc_lastexception.log|" } << QByteArray("Mods/mc_lastexception.log")
        << QList<QByteArray> { "noise" };
    QTest::newRow("cfg is noise") << QList<QByteArray> { "file|Mods/1/2/3/4/5/6/7/settings.cfg|x" }
                                  << QByteArray("Mods/1/2/3/4/5/6/7/settings.cfg")
                                  << QList<QByteArray> { "noise" };
    QTest::newRow("txt is noise") << QList<QByteArray> { "file|Mods/readme (1).txt|x" }
                                  << QByteArray("Mods/readme (1).txt") << QList<QByteArray> { "noise" };
    QTest::newRow("a link to a package is not opened")
        << QList<QByteArray> { "file|Elsewhere/x.bin|not dbpf", "link|Mods/l.package|../Elsewhere/x.bin" }
        << QByteArray("Mods/l.package") << QList<QByteArray> {};
    QTest::newRow("several flags on one file")
        << QList<QByteArray> { "file|Mods/1/2/3/4/5/6/Hair (1).package|" }
        << QByteArray("Mods/1/2/3/4/5/6/Hair (1).package") << QList<QByteArray> { "zero-bytes", "too-deep" };
}

void tst_Suspects::flags()
{
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, expected);
    tree::Folder folder;
    tree::apply(folder.path(), steps);
    const ScanResult scan = scanFolder(folder.path());
    const CheckReport report = checkFiles(folder.path(), scan.files, {}, DuplicateScope::AllFiles);
    QList<QByteArray> seen;
    for (qsizetype index : report.noise) {
        if (scan.files.at(index).path == file)
            seen.append("noise");
    }
    for (const CheckedFile& checked : report.suspects) {
        if (scan.files.at(checked.index).path == file) {
            for (const SuspectFlag& flag : checked.flags)
                seen.append(suspectName(flag.suspect));
        }
    }
    QCOMPARE(seen, expected);
    QVERIFY(report.unreadable.isEmpty());
}

void tst_Suspects::reasonsArePlainLines()
{
    tree::Folder folder;
    tree::apply(folder.path(),
        { "file|Mods/a.package|", "file|Mods/b.package|b", "file|Mods/c.ts4script|c",
            "file|Mods/1/2/3/4/5/6/d.package|DBPF", "file|Mods/e.zip|e", "file|Mods/f (1).package|DBPFq",
            "file|Mods/f.package|DBPFq", "file|Mods/g.sgi|g" });
    const ScanResult scan = scanFolder(folder.path());
    const CheckReport report = checkFiles(folder.path(), scan.files, {}, DuplicateScope::AllFiles);
    QHash<QByteArray, QString> reasons;
    for (const CheckedFile& checked : report.suspects) {
        for (const SuspectFlag& flag : checked.flags)
            reasons.insert(suspectName(flag.suspect), flag.reason);
    }
    QCOMPARE(
        reasons.value("zero-bytes"), QStringLiteral("empty (0 bytes): an unfinished or broken download"));
    QCOMPARE(reasons.value("not-a-package"),
        QStringLiteral("not a working .package: it does not start with the DBPF header every package has"));
    QCOMPARE(reasons.value("not-a-script"),
        QStringLiteral("not a working .ts4script: a script mod is a ZIP archive, and this file is none"));
    QCOMPARE(reasons.value("too-deep"),
        QStringLiteral(
            "too deep: The Sims 4 reads .package files at most 5 folders below Mods, this one is 6 below"));
    QCOMPARE(reasons.value("archive"),
        QStringLiteral("an archive: the game does not load .zip, .rar or .7z files, so its "
                       "mods are not used until it is unpacked"));
    QCOMPARE(reasons.value("duplicate"),
        QStringLiteral("the same bytes as \"Mods/f.package\": one copy is enough"));
    QCOMPARE(reasons.value("browser-copy"),
        QStringLiteral(
            "looks like a second download of \"Mods/f.package\" (a browser adds \" (1)\" to a name it "
            "already has)"));
    QCOMPARE(reasons.value("tray-file"),
        QStringLiteral("a household or lot file: it belongs in the Tray folder, not in Mods"));
    QCOMPARE(reasons.size(), 8);
}

// What the game cannot load from a script mod, in words a player understands.
void tst_Suspects::scriptArchives_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason"); // empty: clean
    const QByteArray good = scriptArchive();
    QTest::newRow("a module, stored: clean") << good << QString();
    QTest::newRow("cut short") << good.first(60)
                               << QStringLiteral(
                                      "a damaged .ts4script: its list of contents is missing or broken, as "
                                      "in a download cut short, so the game cannot open it");
    QTest::newRow("an empty archive")
        << QByteArray::fromHex("504b0506000000000000000000000000000000000000")
        << QStringLiteral(
               "an empty .ts4script: the archive holds no files, so the game loads nothing from it");
    QTest::newRow("no Python module")
        << QByteArray::fromHex("504b030414000000000000002150ac2a93d8020000000200000009000000726561646d652e6d6"
                               "46869504b0102140314000000000000002150ac2a93"
                               "d80200000002000000090000000000000000000000800100000000726561646d652e6d64504b0"
                               "506000000000100010037000000290000000000")
        << QStringLiteral(
               "a .ts4script without Python modules (.pyc or .py files): the game loads nothing from it");
    QTest::newRow("compressed with bzip2")
        << QByteArray::fromHex("504b03042e0000000c0000002150bc58d23d3000000064000000090000006d6f642f6d2e70796"
                               "3425a6839314159265359e228492b0000"
                               "27c600001210000040200030cd340a50609a4e2713c5dc914e1424388a124ac0504b01022e032"
                               "e0000000c0000002150bc58d23d300000"
                               "00640000000900000000000000000000008001000000006d6f642f6d2e707963504b050600000"
                               "0000100010037000000570000000000")
        << QStringLiteral(
               "a .ts4script packed in a way the game cannot read (\"mod/m.pyc\" is compressed with "
               "another method than the usual one)");
    QByteArray locked = good;
    locked[6] = 1; // the "encrypted" bit, in the file's own header and in the list of contents
    locked[52] = 1;
    QTest::newRow("locked by a password")
        << locked
        << QStringLiteral(
               "a .ts4script with a file locked by a password (\"mod/m.pyc\"): the game cannot read it");
    QTest::newRow("no ZIP at all")
        << QByteArray("import os\n")
        << QStringLiteral("not a working .ts4script: a script mod is a ZIP archive, and this file is none");
}

void tst_Suspects::scriptArchives()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    tree::Folder folder;
    QFile file(QFile::decodeName(folder.path() + "/s.ts4script"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    const ScanResult scan = scanFolder(folder.path());
    const CheckReport report = checkFiles(folder.path(), scan.files, {}, DuplicateScope::AllFiles);
    QStringList reasons;
    for (const CheckedFile& checked : report.suspects) {
        for (const SuspectFlag& flag : checked.flags)
            reasons.append(flag.reason);
    }
    QCOMPARE(reasons, reason.isEmpty() ? QStringList() : QStringList { reason });
}

// The folder given may be the mods folder, a folder above it or one on the way; the rules are those of
// the game its path names, and they count from the mods folder, never from a second one inside it.
void tst_Suspects::rulesOfTheGameAndPlace_data()
{
    QTest::addColumn<QByteArray>("root"); // the folder checked, below the test's folder
    QTest::addColumn<QList<QByteArray>>("steps"); // below the test's folder
    QTest::addColumn<QByteArray>("file"); // relative to root
    QTest::addColumn<QList<QByteArray>>("expected");
    const QByteArray zip("PK\x03\x04zipdata", 11);
    QTest::newRow("Mods inside Mods: a tray file beside it")
        << QByteArray("Mods")
        << QList<QByteArray> { "file|Mods/Mods/a.package|DBPF", "file|Mods/x.trayitem|t" }
        << QByteArray("x.trayitem") << QList<QByteArray> { "tray-file" };
    QTest::newRow("Mods inside Mods: an archive beside it")
        << QByteArray("Mods")
        << QList<QByteArray> { "file|Mods/Mods/a.package|DBPF", "file|Mods/Set/set.zip|" + zip }
        << QByteArray("Set/set.zip") << QList<QByteArray> { "archive" };
    QTest::newRow("Mods inside Mods: depth counts from the outer one")
        << QByteArray("Mods") << QList<QByteArray> { "file|Mods/Mods/1/2/3/4/5/a.package|DBPF" }
        << QByteArray("Mods/1/2/3/4/5/a.package") << QList<QByteArray> { "too-deep", "doubled-mods-folder" };
    QTest::newRow("Mods inside Mods: the doubled folder is named")
        << QByteArray("Mods") << QList<QByteArray> { "file|Mods/Mods/a.package|DBPF" }
        << QByteArray("Mods/a.package") << QList<QByteArray> { "doubled-mods-folder" };
    QTest::newRow("game folder: a save's backup is no duplicate")
        << QByteArray("The Sims 4")
        << QList<QByteArray> { "file|The Sims 4/saves/Slot_00000001.save|abc",
               "file|The Sims 4/saves/Slot_00000001.save.ver0|abc", "file|The Sims 4/Mods/a.package|DBPF" }
        << QByteArray("saves/Slot_00000001.save.ver0") << QList<QByteArray> {};
    QTest::newRow("game folder: an empty screenshot is left alone")
        << QByteArray("The Sims 4")
        << QList<QByteArray> { "file|The Sims 4/Screenshots/shot.png|",
               "file|The Sims 4/Mods/a.package|DBPF" }
        << QByteArray("Screenshots/shot.png") << QList<QByteArray> {};
    QTest::newRow("game folder: tray files in Tray are at home")
        << QByteArray("Die Sims 4")
        << QList<QByteArray> { "file|Die Sims 4/Tray/0x1.trayitem|t", "file|Die Sims 4/Tray/0x2.trayitem|t",
               "file|Die Sims 4/Mods/a.package|DBPF" }
        << QByteArray("Tray/0x2.trayitem") << QList<QByteArray> {};
    QTest::newRow("game folder: mods rules below Mods")
        << QByteArray("The Sims 4") << QList<QByteArray> { "file|The Sims 4/Mods/1/2/3/4/5/6/a.package|DBPF" }
        << QByteArray("Mods/1/2/3/4/5/6/a.package") << QList<QByteArray> { "too-deep" };
    QTest::newRow("The Sims 3 from Packages: no depth limit is known")
        << QByteArray("The Sims 3/Mods/Packages")
        << QList<QByteArray> { "file|The Sims 3/Mods/Packages/1/2/3/4/5/6/a.package|DBPF" }
        << QByteArray("1/2/3/4/5/6/a.package") << QList<QByteArray> {};
    QTest::newRow("The Sims 3 from its game folder: the same verdict")
        << QByteArray("The Sims 3")
        << QList<QByteArray> { "file|The Sims 3/Mods/Packages/1/2/3/4/5/6/a.package|DBPF",
               "file|The Sims 3/Mods/Packages/b.package|" }
        << QByteArray("Mods/Packages/1/2/3/4/5/6/a.package") << QList<QByteArray> {};
    QTest::newRow("The Sims 3 from Mods: an empty package in Packages")
        << QByteArray("The Sims 3/Mods") << QList<QByteArray> { "file|The Sims 3/Mods/Packages/b.package|" }
        << QByteArray("Packages/b.package") << QList<QByteArray> { "zero-bytes" };
    QTest::newRow("The Sims 2: household files are no Sims 4 tray files")
        << QByteArray("The Sims 2/Downloads")
        << QList<QByteArray> { "file|The Sims 2/Downloads/x.trayitem|t" } << QByteArray("x.trayitem")
        << QList<QByteArray> {};
}

void tst_Suspects::rulesOfTheGameAndPlace()
{
    QFETCH(QByteArray, root);
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, expected);
    tree::Folder folder;
    tree::apply(folder.path(), steps);
    const QByteArray checked = folder.path() + '/' + root;
    const ScanResult scan = scanFolder(checked);
    const CheckReport report = checkFiles(checked, scan.files, {}, DuplicateScope::AllFiles);
    QList<QByteArray> seen;
    for (const CheckedFile& one : report.suspects) {
        if (scan.files.at(one.index).path == file) {
            for (const SuspectFlag& flag : one.flags)
                seen.append(suspectName(flag.suspect));
        }
    }
    QCOMPARE(seen, expected);
}

void tst_Suspects::withoutContentOnlyNamesAreJudged()
{
    tree::Folder folder;
    tree::apply(folder.path(),
        { "file|Mods/a.package|not dbpf", "file|Mods/b.package|not dbpf", "file|Mods/c.zip|x" });
    const ScanResult scan = scanFolder(folder.path());
    const CheckReport report = checkFiles(QByteArray(), scan.files, {}, DuplicateScope::AllFiles);
    QCOMPARE(report.suspects.size(), 1);
    QCOMPARE(scan.files.at(report.suspects.at(0).index).path, QByteArray("Mods/c.zip"));
}

void tst_Suspects::duplicatesAmongCheckedFilesOnly()
{
    tree::Folder folder;
    tree::apply(folder.path(),
        { "file|Mods/a.package|DBPFsame", "file|Mods/b.package|DBPFsame", "file|Mods/c.package|DBPFsame" });
    const ScanResult scan = scanFolder(folder.path());
    // Only b and c are checked: b is the first of them, c its copy; a is not looked at.
    const CheckReport report = checkFiles(folder.path(), scan.files, { 1, 2 }, DuplicateScope::CheckedFiles);
    QCOMPARE(report.suspects.size(), 1);
    QCOMPARE(report.suspects.at(0).index, 2);
    QCOMPARE(report.suspects.at(0).flags.at(0).reason,
        QStringLiteral("the same bytes as \"Mods/b.package\": one copy is enough"));
    const CheckReport all = checkFiles(folder.path(), scan.files, { 1, 2 }, DuplicateScope::AllFiles);
    QCOMPARE(all.suspects.size(), 2);
    QCOMPARE(all.suspects.at(0).flags.at(0).reason,
        QStringLiteral("the same bytes as \"Mods/a.package\": one copy is enough"));
}

// A new file (the only one checked) that copies the second of two older look-alikes: the older ones are
// told apart from each other too, or the copy would be compared with the first alone.
void tst_Suspects::copyOfAnOlderLookAlike()
{
    tree::Folder folder;
    const QByteArray alike = "DBPF" + QByteArray(5000, 'x');
    tree::apply(folder.path(),
        { "file|Mods/a.package|" + alike + 'a', "file|Mods/b.package|" + alike + 'b',
            "file|Mods/c.package|" + alike + 'b' });
    const ScanResult scan = scanFolder(folder.path());
    const CheckReport report = checkFiles(folder.path(), scan.files, { 2 }, DuplicateScope::AllFiles);
    QCOMPARE(report.suspects.size(), 1);
    QCOMPARE(report.suspects.at(0).flags.at(0).reason,
        QStringLiteral("the same bytes as \"Mods/b.package\": one copy is enough"));
}

QTEST_GUILESS_MAIN(tst_Suspects)
#include "tst_suspects.moc"
