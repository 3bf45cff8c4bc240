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

#include <csignal>

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

class TestQuarantine : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void batchDescribesItself();
    void neverOverwrites_data();
    void neverOverwrites();
    void unreadableRecordStopsMoves_data();
    void unreadableRecordStopsMoves();
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

void TestQuarantine::unreadableRecordStopsMoves_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("cut short") << QByteArray(
        "mendwell step 1\ndirection\tout\nbatch\t2026-01-01 10.00.00\nrf\tHa");
    QTest::newRow("unknown version") << QByteArray("mendwell step 9\ndirection\tout\nbatch\tx\nend\n");
    QTest::newRow("unknown direction") << QByteArray("mendwell step 1\ndirection\tsideways\nbatch\tx\nend\n");
    QTest::newRow("batch outside the quarantine") << QByteArray(
        "mendwell step 1\ndirection\tback\nbatch\t2026-01-01 10.00.00/../../../etc\nrf\tpasswd\nend\n");
    QTest::newRow("file outside the folder") << QByteArray(
        "mendwell step 1\ndirection\tout\nbatch\t2026-01-01 10.00.00\nrf\t../../etc/passwd\nend\n");
    QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    QTest::newRow("empty") << QByteArray();
}

// A record of a move that cannot be read is never guessed at: nothing moves until a person looks at it.
void TestQuarantine::unreadableRecordStopsMoves()
{
    QFETCH(QByteArray, record);
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/Mods"_s;
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(encoded(folder) + "/Hair.package", "DBPF", 0644, 1700000000000000000LL));
    const QString quarantine = mending::quarantineFolderFor(folder);
    QVERIFY(QDir().mkpath(quarantine));
    QFile step(quarantine + u"/.mendwell-step"_s);
    QVERIFY(step.open(QIODevice::WriteOnly));
    step.write(record);
    step.close();
    const QMap<QByteArray, FileState> before = treeOf(encoded(dir.path()));

    const MoveReport recovered = Quarantine(folder).recover();
    QVERIFY2(recovered.error.contains(step.fileName()) && recovered.error.contains(u"cannot be read"_s),
        qPrintable(recovered.error));
    const MoveReport moved = Quarantine(folder).moveOut({ "Hair.package" });
    QCOMPARE(moved.error, recovered.error);
    QCOMPARE(differences(before, treeOf(encoded(dir.path()))), QString());
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

    QTemporaryDir dir;
    const RemovedAtEnd removed(dir.path());
    const QString folder = dir.path() + u"/Mods"_s;
    QVERIFY(QDir().mkpath(folder));
    std::unique_ptr<TmpfsMount> mount;
    if (mountPoint) {
        mount = std::make_unique<TmpfsMount>(QStringLiteral("256m"), folder);
        if (!mount->isMounted())
            QSKIP("cannot mount a tmpfs here (needs root)");
    }
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
    for (int round = 0; killed < kills; ++round) {
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
