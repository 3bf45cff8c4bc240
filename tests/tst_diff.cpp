// SPDX-License-Identifier: GPL-3.0-or-later
#include "mendtree.h"

#include "diff.h"
#include "scan.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace mending;

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace {

// One line per change: "kind|path" or "moved|old|new".
QList<QByteArray> lines(const DiffResult& result)
{
    QList<QByteArray> out;
    for (const Change& change : result.changes)
        out.append(changeKindName(change.kind) + '|'
            + (change.kind == ChangeKind::Moved ? change.oldPath + '|' : QByteArray()) + change.path);
    return out;
}

// One line per change: "path|group key".
QList<QByteArray> groupLines(const DiffResult& result)
{
    QList<QByteArray> out;
    for (const Change& change : result.changes)
        out.append(change.path + '|' + result.groups.at(change.group).key);
    return out;
}

DiffResult diffAfter(const QByteArray& root, const QList<QByteArray>& before, const QList<QByteArray>& steps)
{
    tree::apply(root, before);
    const ScanResult old = scanFolder(root);
    tree::apply(root, steps);
    const ScanResult now = scanFolder(root);
    return diffFiles(old.files, now.files);
}

}

class tst_Diff : public QObject
{
    Q_OBJECT
private slots:
    void kinds_data();
    void kinds();
    void movePairing_data();
    void movePairing();
    void changedKeepsBothSides();
    void unreadableFoldersAreLeftOut();
    void folderListedButNotEntered();
    void groups_data();
    void groups();
    void topLevelAgainstFolderList_data();
    void topLevelAgainstFolderList();
    void folderListParsing_data();
    void folderListParsing();
    void flagsOfChangedFiles();
};

void tst_Diff::kinds_data()
{
    QTest::addColumn<QList<QByteArray>>("before");
    QTest::addColumn<QList<QByteArray>>("steps");
    QTest::addColumn<QList<QByteArray>>("expected");
    const QList<QByteArray> base { "file|Mods/a.package|DBPFaaaa", "file|Mods/Hair/b.package|DBPFbb",
        "file|Mods/Hair/c.package|DBPFc", "time|Mods/a.package|1600000000000000000",
        "time|Mods/Hair/b.package|1600000000000000000", "time|Mods/Hair/c.package|1600000000000000000" };
    QTest::newRow("nothing changed") << base << QList<QByteArray> {} << QList<QByteArray> {};
    QTest::newRow("added at the top") << base << QList<QByteArray> { "file|Mods/new.package|DBPF" }
                                      << QList<QByteArray> { "added|Mods/new.package" };
    QTest::newRow("added deep down") << base << QList<QByteArray> { "file|Mods/Hair/Long/Red/x.package|DBPF" }
                                     << QList<QByteArray> { "added|Mods/Hair/Long/Red/x.package" };
    QTest::newRow("hidden file added") << base << QList<QByteArray> { "file|Mods/.hidden.package|DBPF" }
                                       << QList<QByteArray> { "added|Mods/.hidden.package" };
    QTest::newRow("changed size, same time")
        << base
        << QList<QByteArray> { "file|Mods/a.package|DBPFaaaaaa", "time|Mods/a.package|1600000000000000000" }
        << QList<QByteArray> { "changed|Mods/a.package" };
    QTest::newRow("changed time, same size")
        << base << QList<QByteArray> { "time|Mods/a.package|1600000000000000001" }
        << QList<QByteArray> { "changed|Mods/a.package" };
    QTest::newRow("same size and time is no change")
        << base
        << QList<QByteArray> { "file|Mods/a.package|DBPFzzzz", "time|Mods/a.package|1600000000000000000" }
        << QList<QByteArray> {};
    QTest::newRow("removed") << base << QList<QByteArray> { "rm|Mods/Hair/b.package" }
                             << QList<QByteArray> { "removed|Mods/Hair/b.package" };
    QTest::newRow("moved across folders")
        << base << QList<QByteArray> { "mv|Mods/Hair/b.package|Mods/Other/Deep/b.package" }
        << QList<QByteArray> { "moved|Mods/Hair/b.package|Mods/Other/Deep/b.package" };
    QTest::newRow("renamed in its folder")
        << base << QList<QByteArray> { "mv|Mods/a.package|Mods/a_v2.package" }
        << QList<QByteArray> { "moved|Mods/a.package|Mods/a_v2.package" };
    QTest::newRow("copied elsewhere with its time, then removed")
        << base
        << QList<QByteArray> { "copy|Mods/Hair/c.package|Mods/Shoes/c.package", "rm|Mods/Hair/c.package" }
        << QList<QByteArray> { "moved|Mods/Hair/c.package|Mods/Shoes/c.package" };
    QTest::newRow("same name elsewhere but other size")
        << base
        << QList<QByteArray> { "rm|Mods/Hair/c.package", "file|Mods/Shoes/c.package|DBPFcc",
               "time|Mods/Shoes/c.package|1600000000000000000" }
        << QList<QByteArray> { "added|Mods/Shoes/c.package", "removed|Mods/Hair/c.package" };
    // A path that still holds a file is compared in place, whichever file it is now.
    QTest::newRow("moved and another put in its place")
        << base << QList<QByteArray> { "mv|Mods/a.package|Mods/Old/a.package", "file|Mods/a.package|DBPFnew" }
        << QList<QByteArray> { "added|Mods/Old/a.package", "changed|Mods/a.package" };
    QTest::newRow("odd bytes in names")
        << base
        << QList<QByteArray> { "file|Mods/tab\there.package|1", "file|Mods/line\nfeed.package|2",
               "file|Mods/back\\slash.package|3", "file|Mods/\xFF\xFEnot utf8.package|4",
               "mv|Mods/a.package|Mods/caf\xC3\xA9 \xE9.package" }
        << QList<QByteArray> { "added|Mods/back\\slash.package", "added|Mods/line\nfeed.package",
               "added|Mods/tab\there.package", "added|Mods/\xFF\xFEnot utf8.package",
               "moved|Mods/a.package|Mods/caf\xC3\xA9 \xE9.package" };
    QTest::newRow("one of each") << base
                                 << QList<QByteArray> { "file|Mods/z.package|DBPF",
                                        "time|Mods/Hair/b.package|1", "rm|Mods/Hair/c.package",
                                        "mv|Mods/a.package|Mods/Hair/a.package" }
                                 << QList<QByteArray> { "added|Mods/z.package", "changed|Mods/Hair/b.package",
                                        "removed|Mods/Hair/c.package",
                                        "moved|Mods/a.package|Mods/Hair/a.package" };
}

void tst_Diff::kinds()
{
    QFETCH(QList<QByteArray>, before);
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QList<QByteArray>, expected);
    tree::Folder folder;
    const DiffResult result = diffAfter(folder.path(), before, steps);
    QCOMPARE(lines(result), expected);
    QCOMPARE(result.isEmpty(), expected.isEmpty());
}

// A file counts as moved only where a rename explains it: the same inode, size and time under another name,
// or (after a copy) the same name, size and time in another folder. One difference makes it removed + added.
void tst_Diff::movePairing_data()
{
    QTest::addColumn<QByteArray>("newPath");
    QTest::addColumn<quint64>("inode");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("mtimeNs");
    QTest::addColumn<bool>("moved");
    const qint64 t = 1600000000123456789;
    // by inode: another name
    QTest::newRow("inode: all alike")
        << QByteArray("Mods/B/renamed.package") << quint64(7) << qint64(10) << t << true;
    QTest::newRow("inode: other inode")
        << QByteArray("Mods/B/renamed.package") << quint64(8) << qint64(10) << t << false;
    QTest::newRow("inode: other size")
        << QByteArray("Mods/B/renamed.package") << quint64(7) << qint64(11) << t << false;
    QTest::newRow("inode: other time")
        << QByteArray("Mods/B/renamed.package") << quint64(7) << qint64(10) << t + 1 << false;
    // by name: another inode, the same name in another folder
    QTest::newRow("name: all alike") << QByteArray("Mods/B/mod.package") << quint64(9) << qint64(10) << t
                                     << true;
    QTest::newRow("name: other size")
        << QByteArray("Mods/B/mod.package") << quint64(9) << qint64(11) << t << false;
    QTest::newRow("name: other time")
        << QByteArray("Mods/B/mod.package") << quint64(9) << qint64(10) << t - 1000 << false;
}

void tst_Diff::movePairing()
{
    QFETCH(QByteArray, newPath);
    QFETCH(quint64, inode);
    QFETCH(qint64, size);
    QFETCH(qint64, mtimeNs);
    QFETCH(bool, moved);
    FileEntry was;
    was.path = "Mods/A/mod.package";
    was.size = 10;
    was.mtimeNs = 1600000000123456789;
    was.inode = 7;
    was.device = 3;
    FileEntry is = was;
    is.path = newPath;
    is.inode = inode;
    is.size = size;
    is.mtimeNs = mtimeNs;
    const QList<QByteArray> expected = moved
        ? QList<QByteArray> { "moved|Mods/A/mod.package|" + newPath }
        : QList<QByteArray> { "added|" + newPath, "removed|Mods/A/mod.package" };
    QCOMPARE(lines(diffFiles({ was }, { is })), expected);
}

void tst_Diff::changedKeepsBothSides()
{
    tree::Folder folder;
    const DiffResult result
        = diffAfter(folder.path(), { "file|Mods/a.package|DBPF", "time|Mods/a.package|1000000000000000000" },
            { "file|Mods/a.package|DBPFxyz", "time|Mods/a.package|2000000000000000007" });
    QCOMPARE(result.changes.size(), 1);
    QCOMPARE(result.changes.at(0).before.size, 4);
    QCOMPARE(result.changes.at(0).before.mtimeNs, 1000000000000000000);
    QCOMPARE(result.changes.at(0).after.size, 7);
    QCOMPARE(result.changes.at(0).after.mtimeNs, 2000000000000000007);
}

void tst_Diff::unreadableFoldersAreLeftOut()
{
    const QList<FileEntry> before { { "Mods/Locked/a.package", 1, 1, 1, 1, FileKind::Regular },
        { "Mods/b.package", 1, 1, 2, 1, FileKind::Regular } };
    const QList<FileEntry> after { { "Mods/b.package", 1, 1, 2, 1, FileKind::Regular },
        { "Mods/c.package", 1, 1, 3, 1, FileKind::Regular } };
    // Mods/Locked could not be read now: its file is not known to be gone.
    const DiffResult result = diffFiles(before, after, { { "Mods/Locked", "Permission denied" } });
    QCOMPARE(lines(result), QList<QByteArray> { "added|Mods/c.package" });
    QCOMPARE(result.unknown.size(), 1);
    QCOMPARE(lines(diffFiles(before, after)),
        (QList<QByteArray> { "added|Mods/c.package", "removed|Mods/Locked/a.package" }));
}

// A folder with read but no search permission shows its names, but no file in it can be looked at: its
// files are unknown, not removed, and not added once it opens again.
void tst_Diff::folderListedButNotEntered()
{
    if (::geteuid() == 0)
        QSKIP("root enters every folder: the unprivileged run of this case covers it");
    tree::Folder folder;
    tree::apply(folder.path(), { "file|Mods/Half/a.package|DBPF", "file|Mods/b.package|DBPF" });
    const QByteArray half = folder.path() + "/Mods/Half";
    const ScanResult open = scanFolder(folder.path());
    QVERIFY(::chmod(half.constData(), 0555 & ~0111) == 0);
    const ScanResult listedOnly = scanFolder(folder.path());
    ::chmod(half.constData(), 0755);
    QVERIFY(!listedOnly.problems.isEmpty());
    const DiffResult closing = diffFiles(open.files, listedOnly.files, open.problems + listedOnly.problems);
    QCOMPARE(lines(closing), QList<QByteArray> {});
    QVERIFY(!closing.unknown.isEmpty());
    const DiffResult reopening = diffFiles(listedOnly.files, open.files, listedOnly.problems + open.problems);
    QCOMPARE(lines(reopening), QList<QByteArray> {});
}

void tst_Diff::groups_data()
{
    QTest::addColumn<QList<QByteArray>>("before");
    QTest::addColumn<QList<QByteArray>>("steps");
    QTest::addColumn<QList<QByteArray>>("expected"); // path|group key, in the order of the changes
    const QList<QByteArray> base { "file|Mods/Old/old.package|DBPF", "file|Mods/keep.package|DBPF" };
    QTest::newRow("a new folder as a whole")
        << base
        << QList<QByteArray> { "file|Mods/NewMod/a.package|DBPF1", "file|Mods/NewMod/sub/b.package|DBPF2",
               "file|Mods/NewMod/readme.txt|r" }
        << QList<QByteArray> { "Mods/NewMod/a.package|Mods/NewMod/", "Mods/NewMod/readme.txt|Mods/NewMod/",
               "Mods/NewMod/sub/b.package|Mods/NewMod/" };
    QTest::newRow("a new folder inside an old one")
        << base
        << QList<QByteArray> { "file|Mods/Old/New/a.package|DBPF1", "file|Mods/Old/New/b.package|DBPF2" }
        << QList<QByteArray> { "Mods/Old/New/a.package|Mods/Old/New/",
               "Mods/Old/New/b.package|Mods/Old/New/" };
    QTest::newRow("files added to an old folder stay apart")
        << base << QList<QByteArray> { "file|Mods/Old/x.package|DBPF1", "file|Mods/Old/y.package|DBPF2" }
        << QList<QByteArray> { "Mods/Old/x.package|Mods/Old/x.package",
               "Mods/Old/y.package|Mods/Old/y.package" };
    QTest::newRow("loose files sharing a stem")
        << base
        << QList<QByteArray> { "file|Mods/Author_Mod.package|DBPF",
               "file|Mods/Author_Mod.ts4script|PK\x03\x04", "file|Mods/Author_Other.package|DBPF" }
        << QList<QByteArray> { "Mods/Author_Mod.package|Mods/Author_Mod.*",
               "Mods/Author_Mod.ts4script|Mods/Author_Mod.*",
               "Mods/Author_Other.package|Mods/Author_Other.package" };
    QTest::newRow("stems differing in letter case")
        << base
        << QList<QByteArray> { "file|Mods/Author_Mod.package|DBPF",
               "file|Mods/author_mod.ts4script|PK\x03\x04" }
        << QList<QByteArray> { "Mods/Author_Mod.package|Mods/Author_Mod.*",
               "Mods/author_mod.ts4script|Mods/Author_Mod.*" };
    QTest::newRow("one stem in two old folders stays apart")
        << QList<QByteArray> { "file|Mods/A/old|1", "file|Mods/B/old|1" }
        << QList<QByteArray> { "file|Mods/A/Mod.package|DBPF", "file|Mods/B/Mod.ts4script|PK\x03\x04" }
        << QList<QByteArray> { "Mods/A/Mod.package|Mods/A/Mod.package",
               "Mods/B/Mod.ts4script|Mods/B/Mod.ts4script" };
    QTest::newRow("an update: one changed, one added, one stem")
        << QList<QByteArray> { "file|Mods/Tool.package|DBPF", "time|Mods/Tool.package|1" }
        << QList<QByteArray> { "file|Mods/Tool.package|DBPFv2", "file|Mods/Tool.ts4script|PK\x03\x04" }
        << QList<QByteArray> { "Mods/Tool.ts4script|Mods/Tool.*", "Mods/Tool.package|Mods/Tool.*" };
    QTest::newRow("a folder gone as a whole")
        << QList<QByteArray> { "file|Mods/Gone/a.package|1", "file|Mods/Gone/b/c.package|2", "file|Mods/k|3" }
        << QList<QByteArray> { "rm|Mods/Gone/a.package", "rm|Mods/Gone/b/c.package" }
        << QList<QByteArray> { "Mods/Gone/a.package|Mods/Gone/", "Mods/Gone/b/c.package|Mods/Gone/" };
    QTest::newRow("files moved into a new folder join it")
        << base
        << QList<QByteArray> { "mv|Mods/keep.package|Mods/Set/keep.package",
               "file|Mods/Set/new.package|DBPF" }
        << QList<QByteArray> { "Mods/Set/new.package|Mods/Set/", "Mods/Set/keep.package|Mods/Set/" };
}

void tst_Diff::groups()
{
    QFETCH(QList<QByteArray>, before);
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QList<QByteArray>, expected);
    tree::Folder folder;
    const DiffResult result = diffAfter(folder.path(), before, steps);
    QCOMPARE(groupLines(result), expected);
    // Every change is in exactly one group, and every group lists its changes.
    qsizetype listed = 0;
    for (qsizetype g = 0; g < result.groups.size(); ++g) {
        for (qsizetype index : result.groups.at(g).changes) {
            QCOMPARE(result.changes.at(index).group, int(g));
            ++listed;
        }
    }
    QCOMPARE(listed, result.changes.size());
}

void tst_Diff::topLevelAgainstFolderList_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QList<QByteArray>>("steps");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::newRow("same names") << QByteArray("a.package\r\nb.package\r\n\r\n\r\n")
                                << QList<QByteArray> { "file|a.package|1", "file|b.package|2" }
                                << QList<QByteArray> {};
    QTest::newRow("added and removed at the top")
        << QByteArray("a.package\r\ngone.package\r\n\r\n\r\n")
        << QList<QByteArray> { "file|a.package|1", "file|new.package|2" }
        << QList<QByteArray> { "added|new.package", "removed|gone.package" };
    QTest::newRow("subfolders and hidden files are not in a list")
        << QByteArray("a.package\r\n\r\n\r\n")
        << QList<QByteArray> { "file|a.package|1", "file|Sub/b.package|2", "file|.hidden|3" }
        << QList<QByteArray> {};
    QTest::newRow("names compared exactly, letter case included")
        << QByteArray("A.package\r\n\r\n\r\n") << QList<QByteArray> { "file|a.package|1" }
        << QList<QByteArray> { "added|a.package", "removed|A.package" };
    QTest::newRow("links as Brenvale sees them")
        << QByteArray("\r\n\r\n")
        << QList<QByteArray> { "file|Sub/real.package|1", "link|to-file.package|Sub/real.package",
               "link|to-folder|Sub", "link|broken.package|nowhere.package" }
        << QList<QByteArray> { "added|to-file.package" };
    QTest::newRow("lines ending in LF alone")
        << QByteArray("a.package\nb.package\n") << QList<QByteArray> { "file|a.package|1" }
        << QList<QByteArray> { "removed|b.package" };
}

void tst_Diff::topLevelAgainstFolderList()
{
    QFETCH(QByteArray, list);
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QList<QByteArray>, expected);
    tree::Folder folder;
    tree::apply(folder.path(), steps);
    const DiffResult result
        = diffTopLevel(parseFolderList(list), scanFolder(folder.path()).files, folder.path());
    QVERIFY(result.topLevelOnly);
    QCOMPARE(lines(result), expected);
}

void tst_Diff::folderListParsing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("names"); // "!" and the message when refused
    QTest::newRow("the 27 bytes of two names")
        << QByteArray::fromHex("66697273742E6461740D0A7365636F6E642E6461740D0A0D0A0D0A")
        << QList<QByteArray> { "first.dat", "second.dat" };
    QTest::newRow("blanks and commas kept")
        << QByteArray(" spaced ,comma\r\n\r\n\r\n") << QList<QByteArray> { " spaced ,comma" };
    QTest::newRow("no line end at all, as Quorrel reads it")
        << QByteArray("first.dat") << QList<QByteArray> { "first.dat" };
    QTest::newRow("a NUL byte") << QByteArray("a\0b\r\n", 5)
                                << QList<QByteArray> {
                                       "!neither a Mendwell snapshot nor a folder list (it holds "
                                       "binary data)"
                                   };
    QTest::newRow("a note with a path in it")
        << QByteArray("My mods are in\n~/Documents/Electronic Arts/The Sims 4/Mods\n")
        << QList<QByteArray> {
               "!neither a Mendwell snapshot nor a folder list (line 2 is no bare file name)"
           };
    QTest::newRow("a table with tabs")
        << QByteArray("name\tsize\r\na.package\t12\r\n")
        << QList<QByteArray> {
               "!neither a Mendwell snapshot nor a folder list (line 1 is no bare file name)"
           };
    QTest::newRow("a name that is no file")
        << QByteArray("a.package\r\n..\r\n")
        << QList<QByteArray> { "!neither a Mendwell snapshot nor a folder list (line 2 names no file)" };
}

void tst_Diff::folderListParsing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, names);
    try {
        QCOMPARE(parseFolderList(bytes), names);
    } catch (const Failure& failure) {
        QCOMPARE(QList<QByteArray> { '!' + failure.message().toUtf8() }, names);
    }
}

void tst_Diff::flagsOfChangedFiles()
{
    tree::Folder folder;
    tree::apply(folder.path(), { "file|Mods/ok.package|DBPF" });
    const ScanResult old = scanFolder(folder.path());
    tree::apply(folder.path(),
        { "file|Mods/empty.package|", "file|Mods/fine.package|DBPFfine", "file|Mods/log.txt|",
            "file|Mods/copy.package|DBPFfine", "rm|Mods/ok.package" });
    const ScanResult now = scanFolder(folder.path());
    DiffResult result = diffFiles(old.files, now.files);
    flagSuspects(result, folder.path(), now.files);
    QList<QByteArray> seen;
    for (const Change& change : result.changes) {
        QByteArray line = change.path + (change.noise ? " noise" : "");
        for (const SuspectFlag& flag : change.flags)
            line += ' ' + suspectName(flag.suspect);
        seen.append(line);
    }
    QCOMPARE(seen,
        (QList<QByteArray> { "Mods/copy.package", "Mods/empty.package zero-bytes",
            "Mods/fine.package duplicate", "Mods/log.txt noise", "Mods/ok.package" }));
}

QTEST_GUILESS_MAIN(tst_Diff)
#include "tst_diff.moc"
