// SPDX-License-Identifier: GPL-3.0-or-later
// Files moved out of real game folders and back: round trips that must leave the folder as it was, a target
// that is never overwritten, a running game that blocks the move, and a mover killed with SIGKILL at random
// moments after which every file is in exactly one place with its bytes.
#include "filetree.h"
#include "quarantine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <climits>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using mending::MoveReport;
using mending::Quarantine;

namespace {

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

QString problems(const MoveReport& report)
{
    QStringList lines;
    if (!report.error.isEmpty())
        lines.append(report.error);
    for (const auto& [path, reason] : report.skipped)
        lines.append(QString::fromUtf8(path) + u": "_s + reason);
    return lines.join(u'\n');
}

}

// A game folder "Mods" in a temporary folder removed at the end; with mountPoint a tmpfs of its own, so
// that moves out of it cross volumes.
struct ScratchGame
{
    ScratchGame(bool mountPoint, const QString& size)
        : removed(dir.path())
        , folder(dir.path() + u"/Mods"_s)
    {
        QDir().mkpath(folder);
        if (mountPoint)
            mount = std::make_unique<TmpfsMount>(size, folder);
    }
    bool usable() const { return !mount || mount->isMounted(); }

    QTemporaryDir dir;
    RemovedAtEnd removed;
    QString folder;
    std::unique_ptr<TmpfsMount> mount;
};

#define SKIP_UNLESS_USABLE(game)                                                                             \
    do {                                                                                                     \
        if (!(game).usable())                                                                                \
            QSKIP("a tmpfs cannot be mounted here (needs root): the real-volume case is not run");           \
    } while (false)

class TestQuarantine : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void batchDescribesItself();
    void neverOverwrites_data();
    void neverOverwrites();
    void damagedRecordsNeverStrand_data();
    void damagedRecordsNeverStrand();
    void recordsAreInput_data();
    void recordsAreInput();
    void folderSwappedForLinkMidMove();
    void playersFileOfScratchName_data();
    void playersFileOfScratchName();
    void deepPaths_data();
    void deepPaths();
    void acrossVolumes_data();
    void acrossVolumes();
    void folderPathNotText();
    void asAnotherUser_data();
    void asAnotherUser();
    void runningGameBlocksMove_data();
    void runningGameBlocksMove();
    void survivesKills_data();
    void survivesKills();
};

void TestQuarantine::roundTrip_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("batches");
    QTest::addColumn<bool>("mountPoint");
    QTest::addColumn<bool>("withCache");

    QTest::newRow("everything out in one batch and back") << 1u << 300 << 1 << false << false;
    QTest::newRow("three batches, put back in pieces") << 2u << 400 << 3 << false << false;
    QTest::newRow("eight small batches") << 3u << 200 << 8 << false << false;
    QTest::newRow("with the cache beside the folder") << 4u << 150 << 2 << false << true;
    QTest::newRow("folder is a mount point, one batch") << 5u << 200 << 1 << true << false;
    QTest::newRow("folder is a mount point, three batches and the cache") << 6u << 200 << 3 << true << true;
}

void TestQuarantine::roundTrip()
{
    QFETCH(quint32, seed);
    QFETCH(int, files);
    QFETCH(int, batches);
    QFETCH(bool, mountPoint);
    QFETCH(bool, withCache);

    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString game = dir.path() + u"/The Sims 4"_s;
    const QString folder = game + u"/Mods"_s;
    QVERIFY(QDir().mkpath(folder));
    std::unique_ptr<TmpfsMount> mount;
    if (mountPoint) {
        mount = std::make_unique<TmpfsMount>(QStringLiteral("256m"), folder);
        if (!mount->isMounted())
            QSKIP("cannot mount a tmpfs here (needs root)");
    }
    QVERIFY(makeTree(encoded(folder), files, seed));
    const QByteArray cache = "localthumbcache.package";
    if (withCache)
        QVERIFY(writeFile(encoded(game) + '/' + cache, "DBPF cache", 0644, 1600000000123456789LL));
    const QMap<QByteArray, FileState> before = treeOf(encoded(folder), true);
    const QMap<QByteArray, FileState> gameBefore = treeOf(encoded(game), false);

    QRandomGenerator random(seed);
    Quarantine quarantine(folder, 4);
    QList<QByteArray> remaining = filesOf(before);
    for (int b = 0; b < batches && !remaining.isEmpty(); ++b) {
        QList<QByteArray> chosen;
        const bool last = b == batches - 1;
        for (const QByteArray& path : std::as_const(remaining)) {
            if (last || random.bounded(batches) == 0)
                chosen.append(path);
        }
        for (const QByteArray& path : std::as_const(chosen))
            remaining.removeOne(path);
        const QList<QByteArray> beside
            = withCache && b == 0 ? QList<QByteArray> { cache } : QList<QByteArray> {};
        const MoveReport report = quarantine.moveOut(chosen, beside);
        QVERIFY2(report.ok() && report.skipped.isEmpty(), qPrintable(problems(report)));
        QCOMPARE(report.moved.size(), chosen.size() + beside.size());
        const QMap<QByteArray, FileState> now = treeOf(encoded(folder));
        for (const QByteArray& path : std::as_const(chosen))
            QVERIFY2(!now.contains(path), path.constData());
    }
    const Whereabouts out = whereabouts(folder, mending::quarantineFolderFor(folder));
    QVERIFY2(out.strays.size() == (withCache ? 1 : 0), qPrintable(out.strays.join(u", "_s)));
    // Subfolders that the move emptied go too.
    const QList<QByteArray> left = treeOf(encoded(folder), true).keys();
    QVERIFY2(left.isEmpty(), left.join(", ").constData());
    QCOMPARE(quarantine.batches().size(), qMin(batches, int(filesOf(before).size())));

    // Back in pieces: single files of random batches first, then what is left, batch by batch.
    const QList<mending::QuarantineBatch> stored = quarantine.batches();
    for (const mending::QuarantineBatch& batch : stored) {
        QList<QByteArray> some;
        for (const mending::QuarantinedFile& file : batch.files) {
            if (random.bounded(3) == 0)
                some.append(file.path);
        }
        if (some.isEmpty())
            continue; // no paths would mean the whole batch
        const MoveReport report = quarantine.restore(batch.name, some);
        QVERIFY2(report.ok() && report.skipped.isEmpty(), qPrintable(problems(report)));
        QCOMPARE(report.moved.size(), some.size());
    }
    const MoveReport rest = quarantine.restore();
    QVERIFY2(rest.ok() && rest.skipped.isEmpty(), qPrintable(problems(rest)));

    const QString difference = differences(before, treeOf(encoded(folder), true));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(differences(gameBefore, treeOf(encoded(game), false)), QString());
    QVERIFY2(!QFileInfo::exists(quarantine.quarantineFolder()), "the empty quarantine folder stays behind");
}

void TestQuarantine::batchDescribesItself()
{
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString folder = dir.path() + u"/Mods"_s;
    QVERIFY(QDir().mkpath(folder + u"/Author"_s));
    QVERIFY(writeFile(encoded(folder) + "/Author/Hair.package", "DBPF hair", 0640, 1700000000123456789LL));
    QVERIFY(writeFile(encoded(folder) + "/tab\there.package", "DBPF", 0600, 1700000001000000001LL));
    QVERIFY(writeFile(encoded(folder) + "/stays.package", "DBPF", 0644, 1700000001000000001LL));

    Quarantine quarantine(folder);
    const MoveReport report = quarantine.moveOut({ "Author/Hair.package", "tab\there.package" });
    QVERIFY2(report.ok() && report.skipped.isEmpty(), qPrintable(problems(report)));

    QCOMPARE(quarantine.quarantineFolder(), dir.path() + u"/Mods (moved out by Mendwell)"_s);
    QVERIFY(!quarantine.quarantineFolder().startsWith(folder + u'/'));
    QVERIFY2(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d$"_s)
                 .match(report.batch)
                 .hasMatch(),
        qPrintable(report.batch));
    const QString batch = quarantine.quarantineFolder() + u'/' + report.batch;
    QVERIFY(QFileInfo::exists(batch + u"/Mods/Author/Hair.package"_s));
    QVERIFY(QFileInfo::exists(folder + u"/stays.package"_s));
    QVERIFY(!QFileInfo::exists(folder + u"/Author"_s));

    QFile manifest(batch + u"/manifest.tsv"_s);
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    const QByteArray text = manifest.readAll();
    QVERIFY2(text.contains("file\t9\t1700000000123456789\t100640\tAuthor/Hair.package\n"), text.constData());
    QVERIFY2(text.contains("file\t4\t1700000001000000001\t100600\ttab\\there.package\n"), text.constData());
    QVERIFY2(text.contains("dir\t-\t"), text.constData());

    const QList<mending::QuarantineBatch> batches = quarantine.batches();
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().filesOut(), 2);
    QCOMPARE(batches.first().files.first().path, QByteArray("Author/Hair.package"));
}

void TestQuarantine::neverOverwrites_data()
{
    QTest::addColumn<bool>("mountPoint");
    QTest::addColumn<QByteArray>("under"); // the mod's folder, which moves whole when it can
    QTest::newRow("same volume") << false << QByteArray();
    QTest::newRow("same volume, in a mod folder made again") << false << QByteArray("Author/");
    QTest::newRow("folder is a mount point") << true << QByteArray();
    QTest::newRow("folder is a mount point, in a mod folder made again") << true << QByteArray("Author/");
}

void TestQuarantine::neverOverwrites()
{
    QFETCH(bool, mountPoint);
    QFETCH(QByteArray, under);
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString folder = dir.path() + u"/Mods"_s;
    QVERIFY(QDir().mkpath(folder + u'/' + QString::fromUtf8(under)));
    std::unique_ptr<TmpfsMount> mount;
    if (mountPoint) {
        mount = std::make_unique<TmpfsMount>(QStringLiteral("256m"), folder);
        if (!mount->isMounted())
            QSKIP("cannot mount a tmpfs here (needs root)");
        QVERIFY(QDir().mkpath(folder + u'/' + QString::fromUtf8(under)));
    }
    const QByteArray root = encoded(folder);
    const QByteArray hair = under + "Hair.package";
    const QByteArray shoes = under + "Shoes.package";
    QVERIFY(writeFile(root + '/' + hair, "old hair", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(root + '/' + shoes, "old shoes", 0644, 1700000000000000000LL));

    Quarantine quarantine(folder);
    MoveReport report = quarantine.moveOut({ hair, shoes, "Missing.package", "../escape" });
    QCOMPARE(report.moved.size(), 2);
    QCOMPARE(report.skipped.size(), 2);
    QVERIFY(!QFileInfo::exists(folder + u'/' + QString::fromUtf8(under)) || under.isEmpty());

    // The player downloads the hair again before putting the batch back.
    QVERIFY(QDir().mkpath(folder + u'/' + QString::fromUtf8(under)));
    QVERIFY(writeFile(root + '/' + hair, "new hair", 0644, 1700000009000000000LL));
    report = quarantine.restore();
    QVERIFY(report.ok());
    QCOMPARE(report.moved, QList<QByteArray> { shoes });
    QCOMPARE(report.skipped.size(), 1);
    QCOMPARE(report.skipped.first().first, hair);
    QVERIFY2(report.skipped.first().second.contains(u"already"_s), qPrintable(report.skipped.first().second));

    const Whereabouts now = whereabouts(folder, mending::quarantineFolderFor(folder));
    QCOMPARE(now.copies.value(hair).size(), 2);
    QCOMPARE(treeOf(root).value(hair).content, QByteArray("new hair"));
    QCOMPARE(treeOf(root).value(shoes).content, QByteArray("old shoes"));
    const QList<mending::QuarantineBatch> batches = quarantine.batches();
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().filesOut(), 1);
    QByteArray kept;
    for (const FileState& state : now.copies.value(hair))
        kept += state.content + ';';
    QVERIFY2(kept.contains("old hair;"), kept.constData());
}

void TestQuarantine::damagedRecordsNeverStrand_data()
{
    QTest::addColumn<bool>("withRecord");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<bool>("manifestLost");
    QTest::newRow("record cut short")
        << true << QByteArray("mendwell step 2\ndirection\tout\nbatch\t2026-01-01 10.00.00\nrf\tHa") << false;
    QTest::newRow("record of an unknown version")
        << true << QByteArray("mendwell step 9\ndirection\tout\nbatch\tx\nend\n") << false;
    QTest::newRow("record of an unknown direction")
        << true << QByteArray("mendwell step 1\ndirection\tsideways\nbatch\tx\nend\n") << false;
    QTest::newRow("record naming a batch outside the quarantine")
        << true
        << QByteArray(
               "mendwell step 1\ndirection\tback\nbatch\t2026-01-01 10.00.00/../../../etc\nrf\tpasswd\nend\n")
        << false;
    QTest::newRow("record naming a file outside the folder")
        << true
        << QByteArray(
               "mendwell step 1\ndirection\tout\nbatch\t2026-01-01 10.00.00\nrf\t../../etc/passwd\nend\n")
        << false;
    QTest::newRow("record of garbage") << true << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << false;
    QTest::newRow("empty record") << true << QByteArray() << false;
    QTest::newRow("manifest deleted") << false << QByteArray() << true;
    QTest::newRow("manifest deleted, record of garbage") << true << QByteArray("garbage") << true;
}

// The files in a batch folder are found and put back whatever happened to Mendwell's records of them; a
// record of a move that cannot be read is kept aside, named, and never guessed at.
void TestQuarantine::damagedRecordsNeverStrand()
{
    QFETCH(bool, withRecord);
    QFETCH(QByteArray, record);
    QFETCH(bool, manifestLost);
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString folder = dir.path() + u"/Mods"_s;
    QVERIFY(QDir().mkpath(folder + u"/Author"_s));
    const QByteArray root = encoded(folder);
    QVERIFY(writeFile(root + "/Author/Hair.package", "DBPF hair", 0640, 1700000000123456789LL));
    QVERIFY(writeFile(root + "/Shoes.package", "DBPF shoes", 0600, 1700000001000000001LL));
    QVERIFY(writeFile(root + "/stays.package", "DBPF", 0644, 1700000001000000001LL));
    const QMap<QByteArray, FileState> before = treeOf(root, true);

    Quarantine quarantine(folder);
    const MoveReport out = quarantine.moveOut({ "Author/Hair.package", "Shoes.package" });
    QVERIFY2(out.ok() && out.moved.size() == 2, qPrintable(problems(out)));
    const QString batch = quarantine.quarantineFolder() + u'/' + out.batch;
    if (manifestLost)
        QVERIFY(QFile::remove(batch + u"/manifest.tsv"_s));
    const QString step = quarantine.quarantineFolder() + u"/.mendwell-step"_s;
    if (withRecord) {
        QFile file(step);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(record);
    }

    const QList<mending::QuarantineBatch> batches = quarantine.batches();
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().filesOut(), 2);
    const MoveReport back = quarantine.restore();
    QVERIFY2(back.ok() && back.skipped.isEmpty(), qPrintable(problems(back)));
    QCOMPARE(back.moved.size(), 2);
    QCOMPARE(differences(before, treeOf(root, true)), QString());
    if (withRecord) {
        QVERIFY2(
            back.notice.contains(step) && back.notice.contains(u"cannot be read"_s), qPrintable(back.notice));
        const QStringList aside
            = QDir(quarantine.quarantineFolder())
                  .entryList({ u".mendwell-step.unreadable-*"_s }, QDir::Files | QDir::Hidden);
        QCOMPARE(aside.size(), 1);
        QVERIFY(back.notice.contains(aside.first()));
        QFile kept(quarantine.quarantineFolder() + u'/' + aside.first());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), record);
    }
    QVERIFY(quarantine.batches().isEmpty());
}

void TestQuarantine::recordsAreInput_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("manifest names a path above the folder") << u"manifest"_s;
    QTest::newRow("step record goes through a link") << u"step"_s;
    QTest::newRow("batch folder replaced by a link") << u"batch"_s;
}

// Mendwell's own records are edited or damaged like any input: nothing outside the game folder and its
// quarantine moves or is removed because of them.
void TestQuarantine::recordsAreInput()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    // Deep enough that four steps up from a batch stay inside the test's folder.
    const QString outside = dir.path() + u"/a/b/outside"_s;
    const QString folder = dir.path() + u"/a/b/game/Mods"_s;
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QDir().mkpath(outside + u"/Mods"_s));
    QVERIFY(writeFile(encoded(outside) + "/secret.package", "secret", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(encoded(outside) + "/Mods/secret.package", "secret", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(encoded(folder) + "/Hair.package", "DBPF hair", 0644, 1700000000000000000LL));

    Quarantine quarantine(folder);
    const MoveReport out = quarantine.moveOut({ "Hair.package" });
    QVERIFY2(out.ok() && out.moved.size() == 1, qPrintable(problems(out)));
    const QString batch = quarantine.quarantineFolder() + u'/' + out.batch;
    if (how == u"manifest"_s) {
        QFile manifest(batch + u"/manifest.tsv"_s);
        QVERIFY(manifest.open(QIODevice::Append));
        manifest.write("file\t6\t1700000000000000000\t100644\t../../../../outside/secret.package\n");
    } else if (how == u"step"_s) {
        QVERIFY(QFile::link(u"../../outside"_s, folder + u"/link"_s));
        QFile step(quarantine.quarantineFolder() + u"/.mendwell-step"_s);
        QVERIFY(step.open(QIODevice::WriteOnly));
        step.write("mendwell step 1\ndirection\tout\nbatch\t" + out.batch.toUtf8()
            + "\nrf\tlink/secret.package\nend\n");
    } else {
        QVERIFY(QDir().rename(batch, outside + u"/batch"_s));
        QVERIFY(QFile::link(outside + u"/batch"_s, batch));
    }
    const QMap<QByteArray, FileState> outsideBefore = treeOf(encoded(outside), true);

    // Each of status's steps on its own, and then a restore, which could otherwise bring back what they took.
    const MoveReport recovered = quarantine.recover();
    QVERIFY2(recovered.ok(), qPrintable(recovered.error));
    QCOMPARE(differences(outsideBefore, treeOf(encoded(outside), true)), QString());
    const QList<mending::QuarantineBatch> batches = quarantine.batches();
    for (const mending::QuarantineBatch& listed : batches) {
        for (const mending::QuarantinedFile& file : listed.files)
            QVERIFY2(!file.path.contains(".."), file.path.constData());
    }
    const MoveReport back = quarantine.restore();
    QVERIFY2(back.ok(), qPrintable(back.error));
    QCOMPARE(differences(outsideBefore, treeOf(encoded(outside), true)), QString());
    QVERIFY(!QFileInfo::exists(dir.path() + u"/a/outside"_s));
    QVERIFY(!QFileInfo::exists(folder + u"/secret.package"_s));
    if (how == u"manifest"_s) {
        QCOMPARE(back.moved, QList<QByteArray> { "Hair.package" });
        QVERIFY2(back.notice.contains(u"outside/secret.package"_s), qPrintable(back.notice));
    }
}

// A folder on the way swapped for a link between the check and the move (another program at work, shown
// here between two files) cannot redirect the move.
void TestQuarantine::folderSwappedForLinkMidMove()
{
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString folder = dir.path() + u"/Mods"_s;
    const QString outside = dir.path() + u"/outside"_s;
    QVERIFY(QDir().mkpath(folder + u"/A"_s));
    QVERIFY(QDir().mkpath(folder + u"/B"_s));
    QVERIFY(QDir().mkpath(outside));
    const QByteArray root = encoded(folder);
    QVERIFY(writeFile(root + "/A/first.package", "first", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(root + "/B/second.package", "second", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(root + "/B/stays.package", "stays", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(encoded(outside) + "/second.package", "not the game's", 0644, 1700000000000000000LL));
    const QMap<QByteArray, FileState> outsideBefore = treeOf(encoded(outside));

    mending::MoveWatch watch;
    bool swapped = false;
    watch.betweenFiles = [&] {
        if (!swapped) {
            swapped = QDir().rename(folder + u"/B"_s, dir.path() + u"/B moved"_s)
                && QFile::link(outside, folder + u"/B"_s);
        }
    };
    Quarantine quarantine(folder);
    quarantine.setWatch(&watch);
    const MoveReport report = quarantine.moveOut({ "A/first.package", "B/second.package" });
    QVERIFY(swapped);
    QVERIFY2(report.ok(), qPrintable(report.error));
    QCOMPARE(report.moved, QList<QByteArray> { "A/first.package" });
    QCOMPARE(report.skipped.size(), 1);
    QCOMPARE(report.skipped.first().first, QByteArray("B/second.package"));
    QVERIFY2(report.skipped.first().second.contains(u"link"_s), qPrintable(report.skipped.first().second));
    QCOMPARE(differences(outsideBefore, treeOf(encoded(outside))), QString());
}

void TestQuarantine::playersFileOfScratchName_data()
{
    QTest::addColumn<bool>("mountPoint");
    QTest::newRow("same volume") << false;
    QTest::newRow("folder is a mount point") << true;
}

// A player's file whose name Mendwell could have used for a copy in progress is never replaced or removed.
void TestQuarantine::playersFileOfScratchName()
{
    QFETCH(bool, mountPoint);
    const ScratchGame game(mountPoint, QStringLiteral("16m"));
    SKIP_UNLESS_USABLE(game);
    const QString& folder = game.folder;
    QVERIFY(QDir().mkpath(folder + u"/Author"_s));
    const QByteArray root = encoded(folder);
    QVERIFY(writeFile(root + "/Author/Hair.package", "DBPF hair", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(root + "/Author/.mendwell-copy", "the player's", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(root + "/.mendwell-copy", "the player's too", 0644, 1700000000000000000LL));
    const QMap<QByteArray, FileState> before = treeOf(root, true);

    Quarantine quarantine(folder);
    const MoveReport out = quarantine.moveOut({ "Author/Hair.package" });
    QVERIFY2(out.ok() && out.skipped.isEmpty(), qPrintable(problems(out)));
    const MoveReport back = quarantine.restore();
    QVERIFY2(back.ok() && back.skipped.isEmpty(), qPrintable(problems(back)));
    QCOMPARE(differences(before, treeOf(root, true)), QString());
}

void TestQuarantine::deepPaths_data()
{
    QTest::addColumn<bool>("mountPoint");
    QTest::newRow("same volume") << false;
    QTest::newRow("folder is a mount point") << true;
}

// A file deeper than the system's limit on path length goes out and back like any other.
void TestQuarantine::deepPaths()
{
    QFETCH(bool, mountPoint);
    const ScratchGame game(mountPoint, QStringLiteral("16m"));
    SKIP_UNLESS_USABLE(game);
    const QString& folder = game.folder;
    const QByteArray root = encoded(folder);
    const QByteArray deep = makeDeepFile(root, 25, "DBPF deep");
    QVERIFY(deep.size() > PATH_MAX);
    QVERIFY(writeFile(root + "/top.package", "DBPF top", 0644, 1700000000000000000LL));

    Quarantine quarantine(folder);
    const MoveReport out = quarantine.moveOut({ deep, "top.package" });
    QVERIFY2(out.ok() && out.skipped.isEmpty(), qPrintable(problems(out)));
    QCOMPARE(out.moved.size(), 2);
    QVERIFY(readDeepFile(root, deep).isNull());
    const QList<mending::QuarantineBatch> batches = quarantine.batches();
    QCOMPARE(batches.size(), 1);
    QCOMPARE(batches.first().filesOut(), 2);

    const MoveReport back = quarantine.restore();
    QVERIFY2(back.ok() && back.skipped.isEmpty(), qPrintable(problems(back)));
    QCOMPARE(back.moved.size(), 2);
    QCOMPARE(readDeepFile(root, deep), QByteArray("DBPF deep"));
    QCOMPARE(readDeepFile(root, "top.package"), QByteArray("DBPF top"));
    QVERIFY(!QFileInfo::exists(quarantine.quarantineFolder()));
}

// Undoes chattr +i, so that the test's folder can be removed whatever happens.
class Immutable
{
public:
    explicit Immutable(const QString& path)
        : m_path(path)
    {
        m_set = QProcess::execute(u"chattr"_s, { u"+i"_s, m_path }) == 0;
    }
    ~Immutable()
    {
        if (m_set)
            QProcess::execute(u"chattr"_s, { u"-i"_s, m_path });
    }
    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;
    bool isSet() const { return m_set; }

private:
    QString m_path;
    bool m_set = false;
};

void TestQuarantine::acrossVolumes_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("the same bytes are at the place again") << u"same bytes"_s;
    QTest::newRow("the source cannot be removed") << u"immutable"_s;
    QTest::newRow("a file of another owner") << u"owner"_s;
}

// The game folder is a volume of its own, so every file is copied, synced, compared and only then removed.
void TestQuarantine::acrossVolumes()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString folder = dir.path() + u"/Mods"_s;
    QVERIFY(QDir().mkpath(folder));
    TmpfsMount mount(QStringLiteral("16m"), folder);
    SKIP_UNLESS_MOUNTED(mount);
    const QByteArray root = encoded(folder);
    const QByteArray hair = root + "/Hair.package";
    QVERIFY(writeFile(hair, "DBPF hair", 0640, 1700000000123456789LL));
    QVERIFY(writeFile(root + "/Shoes.package", "DBPF shoes", 0644, 1700000000123456789LL));
    const QString quarantineFolder = mending::quarantineFolderFor(folder);
    Quarantine quarantine(folder);

    if (how == u"immutable"_s) {
        const Immutable pinned(QFile::decodeName(hair));
        if (!pinned.isSet())
            QSKIP("chattr +i is refused on this tmpfs: the file that cannot be removed is not tried");
        const MoveReport out = quarantine.moveOut({ "Hair.package", "Shoes.package" });
        QVERIFY2(out.ok(), qPrintable(out.error));
        // One copy only: the one the game loads.
        const Whereabouts now = whereabouts(folder, quarantineFolder);
        QCOMPARE(now.copies.value("Hair.package").size(), 1);
        QCOMPARE(out.moved, QList<QByteArray> { "Shoes.package" });
        QCOMPARE(out.skipped.size(), 1);
        QVERIFY2(out.skipped.first().second.contains(u"stays"_s), qPrintable(out.skipped.first().second));
        QVERIFY(now.strays.isEmpty());
        int countedOut = 0;
        for (const mending::QuarantineBatch& batch : quarantine.batches()) {
            for (const mending::QuarantinedFile& file : batch.files)
                countedOut += file.out && file.path == "Hair.package" ? 1 : 0;
        }
        QCOMPARE(countedOut, 0);
        return;
    }
    if (how == u"owner"_s)
        QVERIFY(::lchown(hair.constData(), 4321, 4322) == 0);
    const MoveReport out = quarantine.moveOut({ "Hair.package" });
    QVERIFY2(out.ok() && out.skipped.isEmpty(), qPrintable(problems(out)));
    const QByteArray kept = encoded(quarantineFolder + u'/' + out.batch) + "/Mods/Hair.package";
    struct stat st;
    if (how == u"owner"_s) {
        QVERIFY(::lstat(kept.constData(), &st) == 0);
        QCOMPARE(st.st_uid, uid_t(4321));
        QCOMPARE(st.st_gid, gid_t(4322));
        QVERIFY2(out.notice.isEmpty(), qPrintable(out.notice));
        const MoveReport back = quarantine.restore();
        QVERIFY2(back.ok() && back.skipped.isEmpty(), qPrintable(problems(back)));
        QVERIFY(::lstat(hair.constData(), &st) == 0);
        QCOMPARE(st.st_uid, uid_t(4321));
        QCOMPARE(st.st_gid, gid_t(4322));
        return;
    }
    // The player put the same bytes there again, with a date and permissions of their own.
    QVERIFY(writeFile(hair, "DBPF hair", 0644, 1700000999000000000LL));
    const MoveReport back = quarantine.restore();
    QVERIFY(back.ok());
    QVERIFY(back.moved.isEmpty());
    QCOMPARE(back.skipped.size(), 1);
    QVERIFY2(back.skipped.first().second.contains(u"already"_s), qPrintable(back.skipped.first().second));
    QVERIFY(::lstat(kept.constData(), &st) == 0);
    QCOMPARE(st.st_mode, mode_t(0100640));
    QCOMPARE(qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, 1700000000123456789LL);
    QCOMPARE(quarantine.batches().size(), 1);
    QCOMPARE(quarantine.batches().first().filesOut(), 1);
}

// A game folder whose path is not text goes out and back by its bytes.
void TestQuarantine::folderPathNotText()
{
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QByteArray folder = encoded(dir.path()) + "/Mods \xff\xfe";
    QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    QVERIFY(::mkdir((folder + "/Author").constData(), 0755) == 0);
    QVERIFY(writeFile(folder + "/Author/Hair.package", "DBPF hair", 0640, 1700000000123456789LL));
    QVERIFY(writeFile(folder + "/stays.package", "DBPF", 0644, 1700000000123456789LL));
    const QMap<QByteArray, FileState> before = treeOf(folder, true);

    Quarantine quarantine(folder);
    const MoveReport out = quarantine.moveOut({ "Author/Hair.package" });
    QVERIFY2(out.ok() && out.skipped.isEmpty(), qPrintable(problems(out)));
    QCOMPARE(out.moved.size(), 1);
    struct stat st;
    QVERIFY(::lstat((folder + " (moved out by Mendwell)/" + out.batch.toUtf8()
                        + "/Mods \xff\xfe/Author/Hair.package")
                        .constData(),
                &st)
        == 0);
    QCOMPARE(quarantine.batches().size(), 1);
    QCOMPARE(quarantine.batches().first().filesOut(), 1);
    const MoveReport back = quarantine.restore();
    QVERIFY2(back.ok() && back.skipped.isEmpty(), qPrintable(problems(back)));
    QCOMPARE(differences(before, treeOf(folder, true)), QString());
}

void TestQuarantine::asAnotherUser_data()
{
    QTest::addColumn<bool>("mountPoint");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("printed");
    QTest::newRow("a folder the mover cannot write")
        << false << QStringList { u"Locked/Hair.package"_s, u"Free/Shoes.package"_s }
        << QStringList { u"moved\tFree/Shoes.package"_s,
               u"skipped\tLocked/Hair.package\tit could not be moved: Permission denied"_s };
    QTest::newRow("a file of another owner across volumes")
        << true << QStringList { u"Theirs.package"_s }
        << QStringList { u"moved\tTheirs.package"_s,
               u"notice\tTheirs.package could not keep its owner (user 4321) on the other volume"_s };
}

// Run as a player without root: a file in a folder that player cannot write stays, with the system's reason,
// while the rest of the batch goes; a file copied across volumes that cannot keep its owner is named.
void TestQuarantine::asAnotherUser()
{
    QFETCH(bool, mountPoint);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, printed);
    if (::geteuid() != 0)
        QSKIP("needs root to run the mover as another user");
    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QByteArray base = encoded(dir.path());
    const QByteArray folder = base + "/Mods";
    QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    std::unique_ptr<TmpfsMount> mount;
    if (mountPoint) {
        mount = std::make_unique<TmpfsMount>(QStringLiteral("16m"), QFile::decodeName(folder));
        SKIP_UNLESS_MOUNTED(*mount);
    }
    QVERIFY(::mkdir((folder + "/Locked").constData(), 0755) == 0);
    QVERIFY(::mkdir((folder + "/Free").constData(), 0755) == 0);
    QVERIFY(writeFile(folder + "/Locked/Hair.package", "DBPF hair", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(folder + "/Free/Shoes.package", "DBPF shoes", 0644, 1700000000000000000LL));
    QVERIFY(writeFile(folder + "/Theirs.package", "DBPF theirs", 0644, 1700000000000000000LL));
    const uid_t player = 65534;
    for (const QByteArray& path :
        { base, folder, folder + "/Free", folder + "/Free/Shoes.package", folder + "/Locked/Hair.package" })
        QVERIFY(::chown(path.constData(), player, player) == 0);
    QVERIFY(::chown((folder + "/Theirs.package").constData(), 4321, 4321) == 0);
    QVERIFY(::chmod(base.constData(), 0755) == 0);

    QProcess mover;
    mover.start(u"setpriv"_s,
        QStringList { u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
            QCoreApplication::applicationDirPath() + u"/quarantine_worker"_s, QFile::decodeName(folder),
            u"0"_s, u"moveout"_s }
            + paths);
    if (!mover.waitForStarted())
        QSKIP("setpriv cannot be started here");
    QVERIFY(mover.waitForFinished());
    const QString out = QString::fromUtf8(mover.readAllStandardOutput());
    QVERIFY2(mover.exitCode() == 0, mover.readAllStandardError().constData());
    for (const QString& line : std::as_const(printed))
        QVERIFY2(out.contains(line), qPrintable(out));
    for (const QString& path : std::as_const(paths)) {
        const bool stays = !out.contains(u"moved\t"_s + path);
        QCOMPARE(QFileInfo::exists(QFile::decodeName(folder) + u'/' + path), stays);
    }
}

void TestQuarantine::runningGameBlocksMove_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("generation");
    QTest::addColumn<bool>("blocks");

    QTest::newRow("game's executable copied") << u"copy TS4_x64.exe"_s << 4 << true;
    QTest::newRow("game's executable linked") << u"link TS4_x64.exe"_s << 4 << true;
    QTest::newRow("the DirectX 9 build") << u"copy TS4_DX9_x64.exe"_s << 4 << true;
    QTest::newRow("Windows path as Wine shows it")
        << u"argv0 C:\\Program Files\\EA Games\\The Sims 4\\Game\\Bin\\TS4_x64.exe"_s << 4 << true;
    QTest::newRow("under the Wine loader")
        << u"loader wine64-preloader Z:\\games\\ts4\\TS4_x64.exe"_s << 4 << true;
    QTest::newRow("The Sims 2 while any game blocks") << u"copy Sims2EP9.exe"_s << 0 << true;
    QTest::newRow("a backup copy of the executable") << u"copy TS4_x64.exe.bak"_s << 4 << false;
    QTest::newRow("the name as a plain argument") << u"argument TS4_x64.exe"_s << 4 << false;
    QTest::newRow("another game than the folder's") << u"copy Sims2EP9.exe"_s << 4 << false;
}

void TestQuarantine::runningGameBlocksMove()
{
    QFETCH(QString, how);
    QFETCH(int, generation);
    QFETCH(bool, blocks);

    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString folder = dir.path() + u"/Mods"_s;
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(encoded(folder) + "/Hair.package", "DBPF", 0644, 1700000000000000000LL));

    const QString verb = how.section(u' ', 0, 0);
    const QString name = how.section(u' ', 1);
    QProcess game;
    if (verb == u"copy"_s || verb == u"link"_s) {
        const QString exe = dir.path() + u'/' + name;
        QVERIFY(verb == u"copy"_s ? QFile::copy(u"/bin/sleep"_s, exe) : QFile::link(u"/bin/sleep"_s, exe));
        game.start(exe, { u"30"_s });
    } else if (verb == u"argv0"_s) {
        game.start(u"bash"_s, { u"-c"_s, u"exec -a \"$0\" sleep 30"_s, name });
    } else if (verb == u"loader"_s) {
        // The loader keeps running with the program's path among its arguments.
        game.start(u"bash"_s,
            { u"-c"_s, u"exec -a \"$0\" bash -c 'sleep 30; true' \"$1\""_s, name.section(u' ', 0, 0),
                name.section(u' ', 1) });
    } else {
        game.start(u"bash"_s, { u"-c"_s, u"sleep 30; true"_s, name });
    }
    QVERIFY(game.waitForStarted());
    const QByteArray cmdline = "/proc/" + QByteArray::number(game.processId()) + "/cmdline";
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QFile file(QString::fromLatin1(cmdline));
            // Until the child has run bash, and until bash has replaced itself, the command line
            // read would be this test's or bash's own.
            if (!file.open(QIODevice::ReadOnly))
                return false;
            const QByteArray line = file.readAll();
            return !line.isEmpty() && !line.contains("exec -a")
                && !line.contains(QCoreApplication::applicationFilePath().toUtf8());
        }(),
        5000);

    const MoveReport report = Quarantine(folder, generation).moveOut({ "Hair.package" });
    game.kill();
    game.waitForFinished();
    if (blocks) {
        QVERIFY2(report.error.contains(u" is running ("_s) && report.error.contains(u"Close the game"_s),
            qPrintable(report.error));
        QVERIFY(QFileInfo::exists(folder + u"/Hair.package"_s));
        QVERIFY(!QFileInfo::exists(mending::quarantineFolderFor(folder)));
    } else {
        QVERIFY2(report.ok(), qPrintable(report.error));
        QCOMPARE(report.moved.size(), 1);
    }
}

void TestQuarantine::survivesKills_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("kills");
    QTest::addColumn<bool>("mountPoint");

    QTest::newRow("same volume, 2,000 files") << 2000 << 100 << false;
    QTest::newRow("folder is a mount point, 300 files") << 300 << 40 << true;
}

// A helper program moves the files out and back without end; it is killed at random moments, sometimes again
// while it is recovering, and every time each file must be in exactly one place, as it was.
void TestQuarantine::survivesKills()
{
    QFETCH(int, files);
    QFETCH(int, kills);
    QFETCH(bool, mountPoint);

    const ScratchGame game(mountPoint, QStringLiteral("256m"));
    SKIP_UNLESS_USABLE(game);
    const QString& folder = game.folder;
    QVERIFY(makeTree(encoded(folder), files, 77, 2048));
    const QMap<QByteArray, FileState> before = treeOf(encoded(folder));
    const QString worker = QCoreApplication::applicationDirPath() + u"/quarantine_worker"_s;
    QVERIFY(QFileInfo::exists(worker));

    QRandomGenerator random(2026);
    const QString step = mending::quarantineFolderFor(folder) + u"/.mendwell-step"_s;
    int killed = 0;
    int midMove = 0;
    int midRecovery = 0;
    QElapsedTimer clock;
    clock.start();
    // Kills go on until enough of them came in the middle of a move: how many do depends on how fast the
    // machine is moving files at the moment (a third of them, give or take a few, on a busy one).
    for (int round = 0; (killed < kills || midMove < kills / 3) && round < 4 * kills; ++round) {
        QProcess mover;
        mover.start(worker, { folder, QString::number(round), u"move"_s });
        QVERIFY(mover.waitForStarted());
        QVERIFY(mover.waitForReadyRead(10000));
        int wait = random.bounded(1, 300);
        if (round % 2 == 0) {
            // Every other kill comes while a move is on: its step is on record from before the first file
            // moves until after the last.
            QElapsedTimer waiting;
            waiting.start();
            while (!QFileInfo::exists(step) && waiting.elapsed() < 5000)
                QThread::usleep(100);
            // A move of whole folders is over within milliseconds.
            QThread::usleep(random.bounded(0, 3000));
            wait = 0;
        }
        QVERIFY2(!mover.waitForFinished(wait),
            qPrintable(u"the mover stopped by itself: "_s + QString::fromUtf8(mover.readAllStandardError())));
        ::kill(pid_t(mover.processId()), SIGKILL);
        QVERIFY(mover.waitForFinished());
        QCOMPARE(mover.exitStatus(), QProcess::CrashExit);
        ++killed;
        if (QFileInfo::exists(step))
            ++midMove;

        // Now and then the recovery itself is cut short, and the next one must still finish the move.
        if (round % 3 == 2 && QFileInfo::exists(step)) {
            QProcess recovery;
            recovery.start(worker, { folder, QString::number(round), u"recover"_s });
            QVERIFY(recovery.waitForStarted());
            if (!recovery.waitForFinished(random.bounded(1, 60))) {
                ::kill(pid_t(recovery.processId()), SIGKILL);
                QVERIFY(recovery.waitForFinished());
                ++killed;
                if (QFileInfo::exists(step))
                    ++midRecovery;
            }
        }

        const MoveReport report = Quarantine(folder).recover();
        QVERIFY2(report.ok(), qPrintable(report.error));
        const Whereabouts now = whereabouts(folder, mending::quarantineFolderFor(folder));
        QVERIFY2(
            now.strays.isEmpty(), qPrintable(u"after kill %1: "_s.arg(killed) + now.strays.join(u", "_s)));
        QMap<QByteArray, FileState> single;
        for (auto it = now.copies.cbegin(); it != now.copies.cend(); ++it) {
            QVERIFY2(it->size() == 1,
                qPrintable(u"after kill %1, %2 is in %3 places"_s.arg(killed)
                               .arg(QString::fromUtf8(it.key()))
                               .arg(it->size())));
            single.insert(it.key(), it->first());
        }
        const QString difference = differences(before, single);
        QVERIFY2(difference.isEmpty(), qPrintable(u"after kill %1: "_s.arg(killed) + difference));
    }
    qInfo("%d kills in %.1f s: %d in the middle of a move, %d in the middle of a recovery", killed,
        clock.elapsed() / 1000.0, midMove, midRecovery);
    // Kills that only ever landed between moves would prove nothing.
    QVERIFY(midMove >= kills / 3);

    const MoveReport back = Quarantine(folder).restore();
    QVERIFY2(back.ok() && back.skipped.isEmpty(), qPrintable(problems(back)));
    QCOMPARE(differences(before, treeOf(encoded(folder))), QString());
}

QTEST_GUILESS_MAIN(TestQuarantine)
#include "tst_quarantine.moc"
