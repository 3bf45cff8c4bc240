// SPDX-License-Identifier: GPL-3.0-or-later
#include "mendtree.h"

#include "snapshot.h"

#include <QProcessEnvironment>
#include <QSet>

#include <sys/mount.h>
#include <xxhash.h>

using namespace mending;

Q_DECLARE_METATYPE(mending::Snapshot)

namespace {

FileEntry entry(const QByteArray& path, qint64 size, qint64 mtime, quint64 inode = 1, quint64 device = 2049,
    FileKind kind = FileKind::Regular)
{
    return { path, size, mtime, inode, device, kind };
}

// The bytes of a file with its checksum made right again, so the reader gets past the checksum
// and has to judge the content itself.
QByteArray resealed(QByteArray bytes)
{
    bytes.chop(8);
    const quint64 sum = XXH3_64bits(bytes.constData(), size_t(bytes.size()));
    for (int i = 0; i < 8; ++i)
        bytes += char(sum >> (8 * i));
    return bytes;
}

QString failureOf(const QByteArray& bytes)
{
    try {
        decodeSnapshot(bytes);
    } catch (const Failure& failure) {
        return failure.message();
    }
    return QStringLiteral("accepted");
}

Snapshot small()
{
    Snapshot snapshot;
    snapshot.root = "/home/player/Mods";
    snapshot.label = "works";
    snapshot.takenNs = 3;
    snapshot.files = { entry("a.package", 5, 7, 9, 2), entry("ab", 0, -1, 1, 2, FileKind::Symlink) };
    return snapshot;
}

}

class tst_Snapshot : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void exactBytes();
    void rejects_data();
    void rejects();
    void everyCutIsRejected();
    void fileErrorsNameThePath();
    void failedWriteKeepsTheOldFile();
    void storeNumbersAndLists();
    void storeFolderFollowsXdg_data();
    void storeFolderFollowsXdg();
};

void tst_Snapshot::roundTrip_data()
{
    QTest::addColumn<Snapshot>("snapshot");
    Snapshot empty;
    empty.root = "/";
    QTest::newRow("no files") << empty;
    QTest::newRow("two files") << small();
    Snapshot odd = small();
    odd.root = "/home/j\xF6rg/Mods";
    odd.label = "vor dem Patch \xE2\x9C\x93";
    odd.files = { entry(QByteArray("bad\xFF\xFE", 5), 1, 1), entry("line\nfeed\ttab\\", 2, 2),
        entry("x/\x01y", 3, 3) };
    QTest::newRow("odd bytes") << odd;
    Snapshot extremes = small();
    extremes.takenNs = std::numeric_limits<qint64>::min();
    extremes.files = { entry("big", std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max(),
                           std::numeric_limits<quint64>::max(), std::numeric_limits<quint64>::max()),
        entry("old", 0, std::numeric_limits<qint64>::min(), 0, 0) };
    QTest::newRow("extreme numbers") << extremes;
    Snapshot deep = small();
    QByteArray path;
    for (int i = 0; i < 40; ++i)
        path += QByteArray(100, char('a' + i % 26)) + '/';
    deep.files = { entry(path.first(3000) + "/z", 1, 1), entry(path + "a", 1, 1), entry(path + "b", 1, 1) };
    std::sort(deep.files.begin(), deep.files.end(),
        [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
    QTest::newRow("paths of 4,000 bytes") << deep;
    Snapshot troubled = small();
    troubled.problems = { { "", "Permission denied" }, { "locked/in", "Input/output error" } };
    QTest::newRow("folders it could not read") << troubled;
    Snapshot many = small();
    many.files.clear();
    for (int i = 0; i < 20000; ++i)
        many.files.append(entry(
            "Mods/f" + QByteArray::number(i / 100) + "/cc_" + QByteArray::number(i), i, i * 7, quint64(i)));
    std::sort(many.files.begin(), many.files.end(),
        [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
    QTest::newRow("20,000 files") << many;
}

void tst_Snapshot::roundTrip()
{
    QFETCH(Snapshot, snapshot);
    const QByteArray bytes = encodeSnapshot(snapshot);
    QCOMPARE(decodeSnapshot(bytes), snapshot);

    tree::Folder folder;
    const QByteArray path = folder.path() + "/s.mwsnap";
    writeSnapshotFile(path, snapshot);
    QCOMPARE(readSnapshotFile(path), snapshot);
    const SnapshotInfo info = readSnapshotInfo(path);
    QCOMPARE(info.root, snapshot.root);
    QCOMPARE(info.label, snapshot.label);
    QCOMPARE(info.takenNs, snapshot.takenNs);
    QCOMPARE(info.fileCount, quint64(snapshot.files.size()));
}

void tst_Snapshot::exactBytes()
{
    // The documented layout, byte for byte.
    const QByteArray expected = QByteArray("MENDSNAP") + QByteArray::fromHex("01000000") // version 1
        + QByteArray::fromHex("06") // time 3, zigzag
        + QByteArray::fromHex("11") + "/home/player/Mods" + QByteArray::fromHex("05") + "works"
        + QByteArray::fromHex("02") // files
        + QByteArray::fromHex("00") // problems
        + QByteArray::fromHex("00 09") + "a.package" + QByteArray::fromHex("01 05 0e 09 02")
        + QByteArray::fromHex("01 01") + "b" + QByteArray::fromHex("02 00 01 01 02");
    const QByteArray bytes = encodeSnapshot(small());
    QCOMPARE(bytes.chopped(8), expected);
    const quint64 sum = XXH3_64bits(expected.constData(), size_t(expected.size()));
    QCOMPARE(bytes.right(8), QByteArray(reinterpret_cast<const char*>(&sum), 8));
}

void tst_Snapshot::rejects_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QByteArray good = encodeSnapshot(small());
    const QString checksum
        = QStringLiteral("the snapshot file is truncated or damaged (its checksum does not match)");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("the file is empty");
    QTest::newRow("a text file") << QByteArray("first.dat\r\n\r\n")
                                 << QStringLiteral("not a Mendwell snapshot");
    QTest::newRow("random bytes") << QByteArray::fromHex("00ff13372a")
                                  << QStringLiteral("not a Mendwell snapshot");
    QTest::newRow("cut inside the magic")
        << good.first(5) << QStringLiteral("the snapshot file is truncated");
    QTest::newRow("cut inside the version")
        << good.first(10) << QStringLiteral("the snapshot file is truncated");
    QTest::newRow("head without checksum")
        << good.first(14) << QStringLiteral("the snapshot file is truncated");
    QTest::newRow("last byte missing") << good.chopped(1) << checksum;
    QTest::newRow("one bit flipped") << QByteArray(good).replace(30, 1, "\x01") << checksum;
    QByteArray version2 = good;
    version2[8] = 2;
    QTest::newRow("version 2") << version2
                               << QStringLiteral(
                                      "a snapshot of format version 2, which this Mendwell cannot read "
                                      "(it reads version 1)");
    QByteArray version0 = good;
    version0[8] = 0;
    QTest::newRow("version 0") << version0
                               << QStringLiteral(
                                      "a snapshot of format version 0, which this Mendwell cannot read "
                                      "(it reads version 1)");

    // Sealed again with a right checksum: the reader must judge the content.
    const qsizetype files = good.indexOf("a.package") - 4;
    QByteArray manyFiles = good;
    manyFiles[files] = '\x7F';
    QTest::newRow("more files than bytes")
        << resealed(manyFiles) << QStringLiteral("the snapshot file is damaged (count)");
    QByteArray kind = good;
    kind[good.indexOf("a.package") + 9] = 7;
    QTest::newRow("unknown kind") << resealed(kind) << QStringLiteral("the snapshot file is damaged (kind)");
    QByteArray order = good;
    order.replace(QByteArray("\x01\x01"
                             "b"),
        QByteArray("\x00\x01"
                   "A",
            3)); // "A" sorts before "a.package"
    QTest::newRow("files out of order")
        << resealed(order) << QStringLiteral("the snapshot file is damaged (order)");
    QByteArray twice = good;
    twice.replace(QByteArray("\x01\x01"
                             "b"),
        QByteArray("\x09\x00", 2)); // "a.package" once more
    QTest::newRow("a path listed twice")
        << resealed(twice) << QStringLiteral("the snapshot file is damaged (order)");
    QByteArray shared = good;
    shared[shared.indexOf("\x01\x01"
                          "b")]
        = 0x0A; // more shared bytes than the last path has
    QTest::newRow("shared part too long")
        << resealed(shared) << QStringLiteral("the snapshot file is damaged (path)");
    QByteArray absolute = good;
    absolute[absolute.indexOf("a.package")] = '/';
    QTest::newRow("absolute path") << resealed(absolute)
                                   << QStringLiteral("the snapshot file is damaged (path)");
    QByteArray dots = good;
    dots.replace("a.package", "../ackage");
    QTest::newRow("path leaving the folder")
        << resealed(dots) << QStringLiteral("the snapshot file is damaged (path)");
    QByteArray relativeRoot = good;
    relativeRoot[relativeRoot.indexOf("/home")] = 'h';
    QTest::newRow("relative folder") << resealed(relativeRoot)
                                     << QStringLiteral("the snapshot file is damaged (folder)");
    QTest::newRow("bytes after the end")
        << resealed(good.chopped(8) + "x" + good.right(8))
        << QStringLiteral("the snapshot file is damaged (bytes after the end)");
    QTest::newRow("records cut off") << resealed(good.first(good.indexOf("a.package") + 4) + good.right(8))
                                     << QStringLiteral("the snapshot file is damaged (count)");
    QByteArray overlong = good;
    overlong.replace(QByteArray::fromHex("0e09"), QByteArray::fromHex("8e0009"));
    QTest::newRow("a number spelt too long")
        << resealed(overlong) << QStringLiteral("the snapshot file is damaged (time)");
    QByteArray negative = good;
    negative.replace(QByteArray::fromHex("01050e"), QByteArray::fromHex("01ffffffffffffffffff010e"));
    QTest::newRow("size beyond 63 bits")
        << resealed(negative) << QStringLiteral("the snapshot file is damaged (size)");
}

void tst_Snapshot::rejects()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QCOMPARE(failureOf(bytes), message);
}

void tst_Snapshot::everyCutIsRejected()
{
    const QByteArray good = encodeSnapshot(small());
    for (qsizetype size = 0; size < good.size(); ++size)
        QVERIFY2(
            failureOf(good.first(size)) != QStringLiteral("accepted"), QByteArray::number(size).constData());
    QCOMPARE(failureOf(good), QStringLiteral("accepted"));
}

void tst_Snapshot::fileErrorsNameThePath()
{
    tree::Folder folder;
    const QByteArray missing = folder.path() + "/missing.mwsnap";
    try {
        readSnapshotFile(missing);
        QFAIL("read");
    } catch (const Failure& failure) {
        QCOMPARE(failure.message(), QString::fromUtf8(missing + ": No such file or directory"));
    }
    tree::write(folder.path(), "list.TXT", "a\r\n\r\n");
    try {
        readSnapshotFile(folder.path() + "/list.TXT");
        QFAIL("read");
    } catch (const Failure& failure) {
        QCOMPARE(failure.message(), QString::fromUtf8(folder.path() + "/list.TXT: not a Mendwell snapshot"));
    }
    try {
        writeSnapshotFile(folder.path() + "/no/such/folder/s.mwsnap", small());
        QFAIL("written");
    } catch (const Failure& failure) {
        QCOMPARE(failure.message(),
            QString::fromUtf8(folder.path() + "/no/such/folder/s.mwsnap: No such file or directory"));
    }
}

void tst_Snapshot::failedWriteKeepsTheOldFile()
{
    // A real full file system: a tiny tmpfs, where the new snapshot cannot fit.
    tree::Folder folder;
    const QByteArray mountPoint = folder.path();
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("a tmpfs cannot be mounted here (needs root)");
    const QByteArray path = mountPoint + "/s.mwsnap";
    writeSnapshotFile(path, small());
    Snapshot big = small();
    for (int i = 0; i < 20000; ++i)
        big.files.append(entry("zz/" + QByteArray::number(1000000 + i), i, i));
    QString message;
    try {
        writeSnapshotFile(path, big);
    } catch (const Failure& failure) {
        message = failure.message();
    }
    QDir remaining(QString::fromUtf8(mountPoint));
    const QStringList names = remaining.entryList(QDir::Files | QDir::Hidden);
    Snapshot kept;
    try {
        kept = readSnapshotFile(path);
    } catch (const Failure&) {
    }
    ::umount(mountPoint.constData());
    QCOMPARE(message, QString::fromUtf8(path + ": No space left on device"));
    QCOMPARE(kept, small());
    QCOMPARE(names, QStringList { QStringLiteral("s.mwsnap") }); // no temporary file left behind
}

void tst_Snapshot::storeNumbersAndLists()
{
    tree::Folder folder;
    SnapshotStore store(folder.path() + "/data/mendwell/snapshots");
    QVERIFY(store.list().isEmpty());
    Snapshot first = small();
    first.takenNs = 100;
    Snapshot other = small();
    other.root = "/elsewhere";
    other.takenNs = 200;
    Snapshot second = small();
    second.takenNs = 300;
    second.label = "after";
    QCOMPARE(store.add(first), 1);
    QCOMPARE(store.add(other), 2);
    QCOMPARE(store.add(second), 3);
    // Strangers in the folder are no snapshots, and are never written over.
    tree::write(store.folder(), "5.mwsnap", "garbage");
    tree::write(store.folder(), "notes.txt", "x");

    QList<int> ids;
    for (const StoredSnapshot& stored : store.list())
        ids.append(stored.id);
    QCOMPARE(ids, (QList<int> { 3, 2, 1 }));
    const QList<StoredSnapshot> ofMods = store.list("/home/player/Mods");
    QCOMPARE(ofMods.size(), 2);
    QCOMPARE(ofMods.at(0).id, 3);
    QCOMPARE(ofMods.at(0).info.label, QByteArray("after"));
    QCOMPARE(ofMods.at(0).info.fileCount, 2u);
    QCOMPARE(ofMods.at(1).id, 1);
    QCOMPARE(readSnapshotFile(store.pathOf(3)), second);
    QCOMPARE(store.add(first), 4);
    QCOMPARE(store.add(first), 6);
    QCOMPARE(readWholeFile(store.pathOf(5)), QByteArray("garbage"));
    struct stat st;
    QCOMPARE(::stat(store.folder().constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
}

void tst_Snapshot::storeFolderFollowsXdg_data()
{
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QByteArray>("folder");
    QTest::newRow("XDG_DATA_HOME set")
        << QStringLiteral("/data/me") << QByteArray("/data/me/mendwell/snapshots");
    QTest::newRow("not set") << QString() << QByteArray("/home/me/.local/share/mendwell/snapshots");
    QTest::newRow("relative, so ignored")
        << QStringLiteral("data") << QByteArray("/home/me/.local/share/mendwell/snapshots");
}

void tst_Snapshot::storeFolderFollowsXdg()
{
    QFETCH(QString, xdg);
    QFETCH(QByteArray, folder);
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), QStringLiteral("/home/me"));
    if (!xdg.isEmpty())
        env.insert(QStringLiteral("XDG_DATA_HOME"), xdg);
    QCOMPARE(SnapshotStore::defaultFolder(env), folder);
}

QTEST_GUILESS_MAIN(tst_Snapshot)
#include "tst_snapshot.moc"
