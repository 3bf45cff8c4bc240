// SPDX-License-Identifier: GPL-3.0-or-later
// Mending a game folder through the real mendwell executable and through the core it stands on: the new
// files since a snapshot move out and come back as they were, a running game stops every move, the
// guided 50/50 finds the culprit from a simulated player's answers, and the executable killed with
// SIGKILL at random moments leaves every file in exactly one place with its bytes.
#include "filetree.h"
#include "pretendgame.h"
#include "repair.h"
#include "runninggames.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace mending;

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// A file made now, so that it is newer than any snapshot taken before it.
void addFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

// The files of one mod, as players add them: a folder of its own, a package with its script, or one file.
QStringList modFiles(int index)
{
    const QString name = u"Creator%1_Mod"_s.arg(index, 3, 10, QChar(u'0'));
    switch (index % 3) {
    case 0:
        return { name + u"/"_s + name + u".package"_s, name + u"/Scripts/"_s + name + u".ts4script"_s };
    case 1:
        return { name + u".package"_s, name + u".ts4script"_s };
    default:
        return { name + u".package"_s };
    }
}

}

class tst_Repair : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void roundTrip_data();
    void roundTrip();
    void choosingFiles_data();
    void choosingFiles();
    void cacheGoesAlongWhenAsked();
    void runningGameStopsEveryMove();
    void placeTakenAgainIsReported();
    void fiftyFiftyThroughCommands_data();
    void fiftyFiftyThroughCommands();
    void answersOutOfTurn();
    void pendingMovesWaitForTheGame();
    void stoppedMovesStayPending();
    void fiftyFiftyOfManySizes();
    void killedCommandsLeaveEveryFileInOnePlace();
    void fileThatCannotMoveStopsTheRound_data();
    void fileThatCannotMoveStopsTheRound();
    void twoAnswersAtOnce_data();
    void twoAnswersAtOnce();
    void layoutChangedBehindTheFiftyFifty();
    void filesModsWriteStayInPlace();
    void culpritShownOutOnlyWhileOut();
    void runningGameShapes_data();
    void runningGameShapes();
    void falseMatchHasAWayOut();

private:
    Run mendwell(const QStringList& arguments);
    void startMendwell(QProcess& process, const QStringList& arguments);
    void takeSnapshot();
    // What the folder holds now, and where it must be back to after a restore.
    QMap<QByteArray, FileState> folderNow() const { return treeOf(encoded(m_folder)); }
    QString quarantine() const { return quarantineFolderFor(m_folder); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_home;
    QString m_folder;
};

void tst_Repair::startMendwell(QProcess& process, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, m_home);
    env.insert(u"XDG_DATA_HOME"_s, m_home + u"/data"_s);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MENDWELL_EXECUTABLE), arguments);
}

Run tst_Repair::mendwell(const QStringList& arguments)
{
    QProcess process;
    startMendwell(process, arguments);
    process.waitForFinished(120000);
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

void tst_Repair::takeSnapshot()
{
    const Run run = mendwell({ u"snapshot"_s, m_folder });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    // Files written within the same clock tick as the scan could look unchanged.
    QThread::msleep(20);
}

void tst_Repair::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_home = m_dir->filePath(u"home"_s);
    m_folder = m_dir->filePath(u"The Sims 4/Mods"_s);
    QVERIFY(QDir().mkpath(m_home));
    QVERIFY(QDir().mkpath(m_folder));
    qputenv("XDG_DATA_HOME", encoded(m_home + u"/data"_s));
    qputenv("HOME", encoded(m_home));
}

void tst_Repair::cleanup()
{
    // Odd names, immutable files and read-only folders that QTemporaryDir cannot take away.
    QProcess::execute(u"chattr"_s, { u"-R"_s, u"-f"_s, u"-i"_s, m_dir->path() });
    {
        const RemovedAtEnd removed(m_dir->path());
    }
    m_dir.reset();
}

void tst_Repair::roundTrip_data()
{
    QTest::addColumn<int>("oldFiles");
    QTest::addColumn<int>("newFiles");
    QTest::addColumn<quint32>("seed");

    QTest::newRow("a few mods") << 30 << 10 << 1u;
    QTest::newRow("many new files, odd names, links, modes") << 200 << 600 << 2u;
    QTest::newRow("new files only") << 0 << 300 << 3u;
}

// Every added and changed file goes out and the folder is left as the snapshot saw it; restore then
// brings back every path with its bytes, modification time and permissions.
void tst_Repair::roundTrip()
{
    QFETCH(int, oldFiles);
    QFETCH(int, newFiles);
    QFETCH(quint32, seed);

    QVERIFY(makeTree(encoded(m_folder), oldFiles, seed));
    const QMap<QByteArray, FileState> old = folderNow();
    takeSnapshot();

    QVERIFY(QDir().mkpath(m_folder + u"/New pack"_s));
    QVERIFY(makeTree(encoded(m_folder + u"/New pack"_s), newFiles, seed + 100));
    QRandomGenerator random(seed);
    QSet<QByteArray> changed;
    for (auto it = old.cbegin(); it != old.cend(); ++it) {
        if (S_ISREG(it->mode) && (it->mode & 0200) && random.bounded(5) == 0) {
            QVERIFY(writeFile(encoded(m_folder) + '/' + it.key(), it->content + "changed", it->mode & 07777,
                it->modifiedNs + 1000000000));
            changed.insert(it.key());
        }
    }
    const QMap<QByteArray, FileState> withNew = folderNow();

    const Run out = mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s });
    QVERIFY2(out.status == 0, qPrintable(out.err));
    QVERIFY2(out.out.contains(quarantine()), qPrintable(out.out));
    QMap<QByteArray, FileState> stayed = old;
    for (const QByteArray& path : std::as_const(changed))
        stayed.remove(path);
    QCOMPARE(differences(stayed, folderNow()), QString());
    QString why;
    const QMap<QByteArray, FileState> everywhere = inOnePlace(whereabouts(m_folder, quarantine()), &why);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QCOMPARE(differences(withNew, everywhere), QString());

    const Run status = mendwell({ u"status"_s, m_folder });
    QCOMPARE(status.status, 0);
    QVERIFY2(
        status.out.contains(u"%1 files out"_s.arg(withNew.size() - stayed.size())), qPrintable(status.out));

    const Run back = mendwell({ u"restore"_s, m_folder });
    QVERIFY2(back.status == 0, qPrintable(back.err));
    QCOMPARE(differences(withNew, folderNow()), QString());
    QVERIFY(!QFileInfo::exists(quarantine()));
}

void tst_Repair::choosingFiles_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("movedOut");
    QTest::addColumn<int>("status");

    const QStringList all { u"Added.package"_s, u"Pack/One.package"_s, u"Pack/Two.package"_s,
        u"Old.package"_s };
    QTest::newRow("all, by default") << QStringList {} << all << 0;
    QTest::newRow("added only") << QStringList { u"--only"_s, u"added"_s } << all.first(3) << 0;
    QTest::newRow("changed only") << QStringList { u"--only"_s, u"changed"_s }
                                  << QStringList { u"Old.package"_s } << 0;
    QTest::newRow("below a folder") << QStringList { u"Pack"_s } << all.mid(1, 2) << 0;
    QTest::newRow("one file, given with a trailing slash")
        << QStringList { u"Added.package/"_s } << all.first(1) << 0;
    QTest::newRow("a path with no new file moves nothing")
        << QStringList { u"Nowhere"_s } << QStringList {} << 2;
    QTest::newRow("an old unchanged file is not new")
        << QStringList { u"Kept.package"_s } << QStringList {} << 2;
    QTest::newRow("a bad choice") << QStringList { u"--only"_s, u"some"_s } << QStringList {} << 2;
}

void tst_Repair::choosingFiles()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, movedOut);
    QFETCH(int, status);

    addFile(m_folder + u"/Old.package"_s, "old");
    addFile(m_folder + u"/Kept.package"_s, "kept");
    takeSnapshot();
    addFile(m_folder + u"/Old.package"_s, "old, changed");
    addFile(m_folder + u"/Added.package"_s, "added");
    addFile(m_folder + u"/Pack/One.package"_s, "one");
    addFile(m_folder + u"/Pack/Two.package"_s, "two");
    const QMap<QByteArray, FileState> before = folderNow();

    const Run run = mendwell(QStringList { u"quarantine"_s, m_folder, u"--since"_s, u"1"_s } + options);
    QVERIFY2(run.status == status, qPrintable(run.err + run.out));
    QMap<QByteArray, FileState> expected = before;
    for (const QString& path : movedOut)
        expected.remove(path.toUtf8());
    QCOMPARE(differences(expected, folderNow()), QString());
    QString why;
    QCOMPARE(differences(before, inOnePlace(whereabouts(m_folder, quarantine()), &why)), QString());
    if (status != 0)
        QVERIFY2(!run.err.isEmpty(), "trouble is said on stderr");
}

// The Sims 4 rebuilds its thumbnail cache beside Mods: it goes along only when the player asks, and comes
// back with the batch.
void tst_Repair::cacheGoesAlongWhenAsked()
{
    const QString cache = QFileInfo(m_folder).absolutePath() + u"/localthumbcache.package"_s;
    addFile(cache, "thumbnails of the mods loaded last time");
    takeSnapshot();
    addFile(m_folder + u"/New.package"_s, "new");
    const QMap<QByteArray, FileState> before = folderNow();
    const QByteArray cacheBytes = "thumbnails of the mods loaded last time";

    Run run = mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s });
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(u"localthumbcache.package"_s) && run.out.contains(u"--cache"_s),
        qPrintable(run.out));
    QVERIFY(QFileInfo::exists(cache));
    QVERIFY(mendwell({ u"restore"_s, m_folder }).status == 0);

    run = mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s, u"--cache"_s });
    QCOMPARE(run.status, 0);
    QVERIFY(!QFileInfo::exists(cache));
    const QList<QuarantineBatch> batches = Quarantine(m_folder).batches();
    QCOMPARE(batches.size(), 1);
    QFile stored(batches.first().path + u"/beside Mods/localthumbcache.package"_s);
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), cacheBytes);

    QCOMPARE(mendwell({ u"restore"_s, m_folder }).status, 0);
    QFile back(cache);
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), cacheBytes);
    QCOMPARE(differences(before, folderNow()), QString());
}

// Files must not move while the game reads them: every command that moves refuses, says why, and
// leaves every file where it is.
void tst_Repair::runningGameStopsEveryMove()
{
    takeSnapshot();
    addFile(m_folder + u"/A.package"_s, "a");
    addFile(m_folder + u"/B.package"_s, "b");
    QCOMPARE(mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s, u"B.package"_s }).status, 0);
    const QMap<QByteArray, FileState> before = folderNow();

    const QList<QStringList> moves { { u"quarantine"_s, m_folder, u"--since"_s, u"1"_s },
        { u"restore"_s, m_folder }, { u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s } };
    {
        PretendGame game;
        QVERIFY(game.running());
        QVERIFY(!runningGames(4).isEmpty());
        for (const QStringList& arguments : moves) {
            const Run run = mendwell(arguments);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.contains(u"The Sims 4 is running"_s), qPrintable(run.err));
            QCOMPARE(differences(before, folderNow()), QString());
        }
    }
    QCOMPARE(mendwell({ u"restore"_s, m_folder }).status, 0);
    QVERIFY(QFileInfo::exists(m_folder + u"/B.package"_s));
}

// Nothing is ever overwritten: a file made again where a moved-out one lay keeps its place, and the
// moved-out file stays in its batch.
void tst_Repair::placeTakenAgainIsReported()
{
    takeSnapshot();
    addFile(m_folder + u"/Mod.package"_s, "the mod");
    addFile(m_folder + u"/Other.package"_s, "another mod");
    QCOMPARE(mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s }).status, 0);
    addFile(m_folder + u"/Mod.package"_s, "downloaded again");

    const Run run = mendwell({ u"restore"_s, m_folder });
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"Mod.package"_s) && run.err.contains(u"already"_s), qPrintable(run.err));
    QFile again(m_folder + u"/Mod.package"_s);
    QVERIFY(again.open(QIODevice::ReadOnly));
    QCOMPARE(again.readAll(), QByteArray("downloaded again"));
    QVERIFY(QFileInfo::exists(m_folder + u"/Other.package"_s));
    const QList<QuarantineBatch> batches = Quarantine(m_folder).batches();
    QCOMPARE(batches.size(), 1);
    QFile kept(batches.first().path + u"/Mods/Mod.package"_s);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("the mod"));
    QVERIFY(mendwell({ u"status"_s, m_folder }).out.contains(u"Mod.package"_s));
}

void tst_Repair::fiftyFiftyThroughCommands_data()
{
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("culprit"); // -1: the game stays broken with every new mod out

    QTest::newRow("one mod, the culprit") << 1 << 0;
    QTest::newRow("2 mods, the second") << 2 << 1;
    QTest::newRow("5 mods, the fourth") << 5 << 3;
    QTest::newRow("11 mods, the first") << 11 << 0;
    QTest::newRow("16 mods, the last") << 16 << 15;
    QTest::newRow("33 mods, one in the middle") << 33 << 17;
    QTest::newRow("6 mods, none of them") << 6 << -1;
}

// A player who only runs the commands and starts the game: the game is broken exactly while every file of
// the culprit lies in the folder. Each command is a program of its own, so every round is a restart.
void tst_Repair::fiftyFiftyThroughCommands()
{
    QFETCH(int, mods);
    QFETCH(int, culprit);

    addFile(m_folder + u"/Old.package"_s, "works");
    takeSnapshot();
    for (int i = 0; i < mods; ++i) {
        for (const QString& file : modFiles(i))
            addFile(m_folder + u'/' + file, file.toUtf8());
    }
    const QMap<QByteArray, FileState> withNew = folderNow();
    const QStringList culpritFiles = culprit >= 0 ? modFiles(culprit) : QStringList();
    const auto broken = [&] {
        return culprit < 0
            || std::all_of(culpritFiles.cbegin(), culpritFiles.cend(),
                [&](const QString& file) { return QFileInfo::exists(m_folder + u'/' + file); });
    };

    Run run = mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(u"Round 1 of at most"_s), qPrintable(run.out));
    const int bound = mods == 1 ? 1 : 2 + int(std::ceil(std::log2(mods)));
    int rounds = 0;
    while (!run.out.contains(u"culprit is"_s) && !run.out.contains(u"not among the new files"_s)) {
        QVERIFY2(++rounds <= bound, qPrintable(u"more than %1 rounds"_s.arg(bound)));
        // Looking does not change anything.
        const QMap<QByteArray, FileState> now = folderNow();
        const Run status = mendwell({ u"bisect"_s, u"status"_s, m_folder });
        QVERIFY2(status.out.contains(u"Round %1 of at most"_s.arg(rounds)), qPrintable(status.out));
        QCOMPARE(differences(now, folderNow()), QString());
        run = mendwell({ u"bisect"_s, broken() ? u"broken"_s : u"works"_s, m_folder });
        QVERIFY2(run.status == 0, qPrintable(run.err));
    }

    QMap<QByteArray, FileState> expected = withNew;
    if (culprit < 0) {
        QVERIFY2(run.out.contains(u"cache"_s), qPrintable(run.out));
    } else {
        QVERIFY2(run.out.contains(u"The culprit is \"%1"_s.arg(
                     modFiles(culprit).first().section(u'/', 0, 0).section(u'.', 0, 0))),
            qPrintable(run.out));
        for (const QString& file : culpritFiles) {
            QVERIFY2(run.out.contains(file), qPrintable(run.out));
            expected.remove(file.toUtf8());
        }
    }
    QCOMPARE(differences(expected, folderNow()), QString());
    QString why;
    QCOMPARE(differences(withNew, inOnePlace(whereabouts(m_folder, quarantine()), &why)), QString());
    QCOMPARE(mendwell({ u"restore"_s, m_folder }).status, 0);
    QCOMPARE(differences(withNew, folderNow()), QString());
}

// Answers the 50/50 does not wait for are refused and change nothing.
void tst_Repair::answersOutOfTurn()
{
    takeSnapshot();
    for (int i = 0; i < 4; ++i)
        addFile(m_folder + u'/' + modFiles(i * 3 + 2).first(), "mod");

    Run run = mendwell({ u"bisect"_s, u"works"_s, m_folder });
    QCOMPARE(run.status, 2);
    // Files moved out before are not in the folder to be tested: they must come back first.
    QCOMPARE(mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s, modFiles(2).first() }).status, 0);
    run = mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s });
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"mendwell restore"_s), qPrintable(run.err));
    QCOMPARE(mendwell({ u"restore"_s, m_folder }).status, 0);
    QVERIFY(mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s }).status == 0);
    QVERIFY(mendwell({ u"bisect"_s, u"works"_s, m_folder, u"--round"_s, u"1"_s }).status == 0);
    const QMap<QByteArray, FileState> round2 = folderNow();

    // The same answer again, for the round already answered (a second click).
    run = mendwell({ u"bisect"_s, u"works"_s, m_folder, u"--round"_s, u"1"_s });
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"round 1"_s), qPrintable(run.err));
    // A second start, and moving files by hand while the 50/50 runs.
    QCOMPARE(mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s }).status, 2);
    QCOMPARE(mendwell({ u"restore"_s, m_folder }).status, 2);
    QCOMPARE(mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s }).status, 2);
    QCOMPARE(differences(round2, folderNow()), QString());

    run = mendwell({ u"bisect"_s, u"stop"_s, m_folder });
    QCOMPARE(run.status, 0);
    QCOMPARE(mendwell({ u"bisect"_s, u"broken"_s, m_folder }).status, 2);
    QCOMPARE(mendwell({ u"bisect"_s, u"stop"_s, m_folder }).status, 2);
    QCOMPARE(folderNow().size(), 4);
    QVERIFY(!QFileInfo::exists(quarantine()));
}

// An answer on record whose moves never happened (the program died between the two) is carried out by
// the next command; while the game runs it waits, and status still shows where things stand.
void tst_Repair::pendingMovesWaitForTheGame()
{
    takeSnapshot();
    for (int i = 0; i < 4; ++i)
        addFile(m_folder + u'/' + modFiles(i * 3 + 2).first(), "mod");
    QCOMPARE(mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s }).status, 0);
    const QMap<QByteArray, FileState> allOut = folderNow();
    BisectStore(BisectStore::defaultPath())
        .answer(QFileInfo(m_folder).canonicalFilePath(), BisectAnswer::Works);
    {
        PretendGame game;
        QVERIFY(game.running());
        const Run status = mendwell({ u"status"_s, m_folder });
        QCOMPARE(status.status, 2);
        QVERIFY2(status.err.contains(u"The Sims 4 is running"_s), qPrintable(status.err));
        QVERIFY2(status.out.contains(u"4 files out"_s), qPrintable(status.out));
        QCOMPARE(differences(allOut, folderNow()), QString());
        QCOMPARE(mendwell({ u"bisect"_s, u"broken"_s, m_folder }).status, 2);
    }
    const Run status = mendwell({ u"bisect"_s, u"status"_s, m_folder });
    QVERIFY2(status.status == 0, qPrintable(status.err));
    QVERIFY2(status.out.contains(u"Round 2 of at most 4"_s), qPrintable(status.out));
    QCOMPARE(folderNow().size(), 2);
}

// A 50/50 whose moves were stopped halfway does not take them for done: the next recover() finishes them.
void tst_Repair::stoppedMovesStayPending()
{
    for (int i = 0; i < 6; ++i)
        addFile(m_folder + u"/Mod %1.package"_s.arg(i), "mod");
    const NewFiles files = newFilesSince(Snapshot(), encoded(m_folder));
    MoveWatch watch;
    watch.cancel = true;
    {
        FiftyFifty fifty(encoded(m_folder));
        fifty.quarantine().setWatch(&watch);
        MoveReport report;
        const BisectSession session = fifty.start(files.groups, &report);
        QVERIFY(report.cancelled);
        QVERIFY(session.movesPending());
        QCOMPARE(folderNow().size(), 6);
    }
    FiftyFifty fifty(encoded(m_folder));
    const MoveReport report = fifty.recover();
    QVERIFY2(report.ok(), qPrintable(report.error));
    QVERIFY(!fifty.session()->movesPending());
    QCOMPARE(folderNow().size(), 0);
    QCOMPARE(fifty.filesOut(*fifty.session()).size(), 6);
}

// The core alone over real files, for many sizes and every kind of culprit position; a new FiftyFifty
// for every answer, as after a restart.
void tst_Repair::fiftyFiftyOfManySizes()
{
    Snapshot empty;
    QRandomGenerator random(7);
    for (const int mods : { 1, 2, 3, 4, 7, 8, 9, 31, 64, 100, 256 }) {
        QList<int> culprits { 0, mods / 2, mods - 1, int(random.bounded(mods)) };
        if (mods <= 9) {
            culprits.clear();
            for (int i = 0; i < mods; ++i)
                culprits.append(i);
        }
        QVERIFY(QDir(m_folder).removeRecursively() && QDir().mkpath(m_folder));
        for (int i = 0; i < mods; ++i)
            addFile(m_folder + u"/Mod %1.package"_s.arg(i), QByteArray::number(i));
        const QMap<QByteArray, FileState> all = folderNow();
        const NewFiles files = newFilesSince(empty, encoded(m_folder));
        QCOMPARE(files.groups.size(), mods);

        for (const int culprit : std::as_const(culprits)) {
            const QString culpritFile = m_folder + u"/Mod %1.package"_s.arg(culprit);
            MoveReport report;
            BisectSession session = FiftyFifty(encoded(m_folder)).start(files.groups, &report);
            QVERIFY2(report.ok() && report.skipped.isEmpty(), qPrintable(report.error));
            const int bound = mods == 1 ? 1 : 2 + int(std::ceil(std::log2(mods)));
            QCOMPARE(session.mostRounds(), bound);
            int rounds = 0;
            while (session.running()) {
                QVERIFY(++rounds <= bound);
                session
                    = FiftyFifty(encoded(m_folder))
                          .answer(QFileInfo::exists(culpritFile) ? BisectAnswer::Broken : BisectAnswer::Works,
                              session.round(), &report);
                QVERIFY2(report.ok() && report.skipped.isEmpty(), qPrintable(report.error));
            }
            QVERIFY(session.culprit() >= 0);
            QCOMPARE(session.groups().at(session.culprit()).paths,
                QList<QByteArray> { QFileInfo(culpritFile).fileName().toUtf8() });
            QMap<QByteArray, FileState> expected = all;
            expected.remove(QFileInfo(culpritFile).fileName().toUtf8());
            QCOMPARE(differences(expected, folderNow()), QString());
            QVERIFY(Quarantine(m_folder).restore().ok());
        }
    }
}

// The real executable is killed at random moments while it moves thousands of files out and back; after
// each kill, mendwell status finishes what was cut short and every file is in exactly one place with its
// bytes, time and permissions.
void tst_Repair::killedCommandsLeaveEveryFileInOnePlace()
{
    const int kills = 100;
    takeSnapshot();
    QVERIFY(makeTree(encoded(m_folder), 2500, 99, 2048));
    const QMap<QByteArray, FileState> before = folderNow();
    const QString step = quarantine() + u"/.mendwell-step"_s;

    QRandomGenerator random(2026);
    int killed = 0;
    int midMove = 0;
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; killed < kills; ++round) {
        QVERIFY2(round < kills * 5, "the moves end too soon to be cut short");
        QProcess mover;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_s, m_home + u"/data"_s);
        mover.setProcessEnvironment(env);
        const bool out = round % 4 < 2;
        mover.start(QStringLiteral(MENDWELL_EXECUTABLE),
            out ? QStringList { u"quarantine"_s, m_folder, u"--since"_s, u"1"_s }
                : QStringList { u"restore"_s, m_folder });
        QVERIFY(mover.waitForStarted());
        if (round % 2 == 0) {
            // Half the kills land while a move is on record, at a random point of it.
            QElapsedTimer waiting;
            waiting.start();
            while (!QFileInfo::exists(step) && waiting.elapsed() < 5000 && mover.state() == QProcess::Running)
                QThread::usleep(50);
            QThread::usleep(random.bounded(0, 4000));
        } else {
            QThread::usleep(random.bounded(0, 150000));
        }
        if (mover.state() == QProcess::Running) {
            ::kill(pid_t(mover.processId()), SIGKILL);
            QVERIFY(mover.waitForFinished());
            ++killed;
            midMove += QFileInfo::exists(step);
        } else {
            QVERIFY(mover.waitForFinished());
        }

        const Run status = mendwell({ u"status"_s, m_folder });
        QVERIFY2(status.status == 0, qPrintable(status.err));
        QVERIFY2(!QFileInfo::exists(step), "status finished the move");
        QString why;
        const QMap<QByteArray, FileState> everywhere = inOnePlace(whereabouts(m_folder, quarantine()), &why);
        QVERIFY2(why.isEmpty(), qPrintable(u"after kill %1: "_s.arg(killed) + why));
        const QString difference = differences(before, everywhere);
        QVERIFY2(difference.isEmpty(), qPrintable(u"after kill %1: "_s.arg(killed) + difference));
    }
    qInfo("%d kills of the real executable in %.1f s, %d of them in the middle of a move", killed,
        clock.elapsed() / 1000.0, midMove);
    QVERIFY(midMove >= kills / 4);
    QCOMPARE(mendwell({ u"restore"_s, m_folder }).status, 0);
    QCOMPARE(differences(before, folderNow()), QString());
}

// The 50/50 cannot answer for a layout it did not make: a file that cannot move (immutable, or in a
// folder that is) stops the round before the player is asked, names the file and why, and what the
// step had moved goes back. Once the file can move, the next command begins the round.
void tst_Repair::fileThatCannotMoveStopsTheRound_data()
{
    QTest::addColumn<bool>("atStart");
    QTest::addColumn<QString>("immutable"); // below the folder, or "*.package": every package anywhere

    QTest::newRow("an immutable file, at the start") << true << modFiles(4).first();
    QTest::newRow("a file in an immutable folder, at the start")
        << true << modFiles(3).first().section(u'/', 0, 0);
    QTest::newRow("immutable packages, at an answer") << false << u"*.package"_s;
}

void tst_Repair::fileThatCannotMoveStopsTheRound()
{
    QFETCH(bool, atStart);
    QFETCH(QString, immutable);
    takeSnapshot();
    for (int i = 0; i < 6; ++i) {
        for (const QString& file : modFiles(i))
            addFile(m_folder + u'/' + file, file.toUtf8());
    }
    if (!atStart)
        QCOMPARE(mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s }).status, 0);
    const QMap<QByteArray, FileState> before = folderNow();
    QStringList targets;
    if (immutable == u"*.package"_s) {
        for (const QString& root : { m_folder, quarantine() }) {
            QDirIterator it(root, { immutable }, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                targets.append(it.next());
        }
    } else {
        targets.append(m_folder + u'/' + immutable);
    }
    for (const QString& target : std::as_const(targets)) {
        if (QProcess::execute(u"chattr"_s, { u"+i"_s, target }) != 0)
            QSKIP("chattr +i does not work here (not root, or a file system without the flag)");
    }

    Run run = atStart ? mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s })
                      : mendwell({ u"bisect"_s, u"works"_s, m_folder });
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"has not begun"_s) && run.err.contains(u"Operation not permitted"_s)
            && run.err.contains(u".package"_s),
        qPrintable(run.err));
    QCOMPARE(differences(before, folderNow()), QString());
    // Nothing can be answered on that layout.
    run = mendwell({ u"bisect"_s, u"broken"_s, m_folder });
    QCOMPARE(run.status, 2);
    QCOMPARE(differences(before, folderNow()), QString());

    QProcess::execute(u"chattr"_s, { u"-R"_s, u"-f"_s, u"-i"_s, m_dir->path() });
    run = mendwell({ u"bisect"_s, u"status"_s, m_folder });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(atStart ? u"Round 1 of"_s : u"Round 2 of"_s), qPrintable(run.out));
    const std::optional<BisectSession> session
        = BisectStore(BisectStore::defaultPath()).load(QFileInfo(m_folder).canonicalFilePath());
    QVERIFY(session && session->running() && !session->movesPending());
    for (qsizetype group = 0; group < session->groups().size(); ++group) {
        for (const QByteArray& path : session->groups().at(group).paths)
            QCOMPARE(QFileInfo::exists(m_folder + u'/' + QString::fromUtf8(path)),
                !session->out().contains(int(group)));
    }
}

// Two answers given at once, from two programs: exactly one is taken, the other is refused with a
// sentence. The test holds the folder's lock until both wait for it, so that they truly meet.
void tst_Repair::twoAnswersAtOnce_data()
{
    QTest::addColumn<bool>("withRound");
    QTest::addColumn<bool>("meet"); // the test holds the lock until both wait for it
    QTest::newRow("without --round") << false << true;
    QTest::newRow("with --round") << true << true;
    QTest::newRow("without --round, as they come") << false << false;
}

void tst_Repair::twoAnswersAtOnce()
{
    QFETCH(bool, withRound);
    QFETCH(bool, meet);
    takeSnapshot();
    for (int i = 0; i < 16; ++i)
        addFile(m_folder + u'/' + modFiles(i * 3 + 2).first(), "mod");
    const QString folder = QFileInfo(m_folder).canonicalFilePath();
    BisectStore store(BisectStore::defaultPath());

    for (int attempt = 0; attempt < 4; ++attempt) {
        std::optional<BisectSession> session = store.load(folder);
        if (!session || !session->running()) {
            QCOMPARE(mendwell({ u"restore"_s, m_folder }).status, 0);
            QCOMPARE(mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s }).status, 0);
            session = store.load(folder);
        }
        const int round = session->round();
        int lock = -1;
        if (meet) {
            QDir().mkpath(QFileInfo(FiftyFifty::lockPath(encoded(m_folder))).absolutePath());
            lock = ::open(QFile::encodeName(FiftyFifty::lockPath(encoded(m_folder))).constData(),
                O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            QVERIFY(lock >= 0);
            QCOMPARE(::flock(lock, LOCK_EX), 0);
        }
        QProcess answers[2];
        const QString given[2] = { u"works"_s, u"broken"_s };
        for (int i = 0; i < 2; ++i) {
            QStringList arguments { u"bisect"_s, given[i], m_folder };
            if (withRound)
                arguments += { u"--round"_s, QString::number(round + 1) };
            answers[i].setReadChannel(QProcess::StandardError);
            startMendwell(answers[i], arguments);
        }
        QByteArray err[2];
        for (int i = 0; i < 2 && meet; ++i) {
            while (!err[i].contains("waiting for another Mendwell") && answers[i].waitForReadyRead(60000))
                err[i] += answers[i].readAllStandardError();
            QVERIFY2(err[i].contains("waiting for another Mendwell"), err[i].constData());
        }
        if (meet)
            ::close(lock);
        int taken = 0;
        for (int i = 0; i < 2; ++i) {
            QVERIFY(answers[i].waitForFinished(60000));
            err[i] += answers[i].readAllStandardError();
            if (answers[i].exitCode() == 0) {
                ++taken;
            } else {
                QCOMPARE(answers[i].exitCode(), 2);
                QVERIFY2(err[i].contains("answer") && err[i].contains("was taken")
                        && err[i].contains("this one was not"),
                    err[i].constData());
            }
        }
        QCOMPARE(taken, 1);
        const std::optional<BisectSession> after = store.load(folder);
        QVERIFY(after && !after->movesPending());
        QCOMPARE(after->events().size(), session->events().size() + 2); // one answer, its moves done
    }
}

// Files put back by another program while a 50/50 runs: the 50/50's own put-back refuses, and an
// answer on the changed layout is refused with the reason instead of giving a wrong verdict.
void tst_Repair::layoutChangedBehindTheFiftyFifty()
{
    takeSnapshot();
    for (int i = 0; i < 5; ++i)
        addFile(m_folder + u'/' + modFiles(i * 3 + 2).first(), "mod");
    QCOMPARE(mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s }).status, 0);
    const QMap<QByteArray, FileState> allOut = folderNow();
    FiftyFifty fifty(encoded(m_folder));
    const MoveReport refused = fifty.restore();
    QVERIFY(!refused.ok());
    QVERIFY2(refused.error.contains(u"50/50"_s), qPrintable(refused.error));
    QCOMPARE(differences(allOut, folderNow()), QString());

    // As a window opened before the 50/50 began put them back: straight through the quarantine.
    QVERIFY(Quarantine(m_folder).restore({}, { modFiles(2).first().toUtf8() }).ok());
    const QMap<QByteArray, FileState> changed = folderNow();
    Run run = mendwell({ u"bisect"_s, u"works"_s, m_folder });
    QCOMPARE(run.status, 2);
    QVERIFY2(
        run.err.contains(modFiles(2).first()) && run.err.contains(u"should be out"_s), qPrintable(run.err));
    QCOMPARE(differences(changed, folderNow()), QString());
    run = mendwell({ u"bisect"_s, u"status"_s, m_folder });
    QVERIFY2(run.out.contains(u"should be out"_s), qPrintable(run.out));
    QVERIFY2(run.out.contains(u"Round 1 of"_s), qPrintable(run.out));
}

// Settings and logs that mods write while the game runs are no mod to test: they never move and make
// no group. A file made during a round stays where it is.
void tst_Repair::filesModsWriteStayInPlace()
{
    takeSnapshot();
    const QStringList noise { u"Creator000_Mod/settings.cfg"_s, u"mc_lastexception.log"_s, u"readme.txt"_s };
    for (int i = 0; i < 3; ++i) {
        for (const QString& file : modFiles(i))
            addFile(m_folder + u'/' + file, "mod");
    }
    for (const QString& file : noise)
        addFile(m_folder + u'/' + file, "written by a mod");
    Run run = mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(u"in 3 of 3 groups"_s), qPrintable(run.out));
    for (const QString& file : noise) {
        QVERIFY2(QFileInfo::exists(m_folder + u'/' + file), qPrintable(file));
        QVERIFY2(!run.out.contains(file), qPrintable(run.out));
    }
    addFile(m_folder + u"/During the round.package"_s, "new");
    run = mendwell({ u"bisect"_s, u"works"_s, m_folder });
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(QFileInfo::exists(m_folder + u"/During the round.package"_s));
    QVERIFY2(
        run.out.contains(u"left where it is: 1 file\n    During the round.package\n"_s), qPrintable(run.out));
    for (const QString& file : noise)
        QVERIFY2(QFileInfo::exists(m_folder + u'/' + file), qPrintable(file));
}

// status names the culprit as out only while it is.
void tst_Repair::culpritShownOutOnlyWhileOut()
{
    takeSnapshot();
    for (int i = 0; i < 3; ++i)
        addFile(m_folder + u'/' + modFiles(i * 3 + 2).first(), "mod");
    const QString culprit = m_folder + u'/' + modFiles(5).first();
    Run run = mendwell({ u"bisect"_s, u"start"_s, m_folder, u"--since"_s, u"1"_s });
    for (int answers = 0; !run.out.contains(u"culprit"_s); ++answers) {
        QVERIFY2(run.status == 0 && answers < 8, qPrintable(run.out + run.err));
        run = mendwell({ u"bisect"_s, QFileInfo::exists(culprit) ? u"broken"_s : u"works"_s, m_folder });
    }
    Run status = mendwell({ u"status"_s, m_folder });
    QVERIFY2(status.out.contains(u"kept out"_s) && status.out.contains(modFiles(5).first()),
        qPrintable(status.out));
    QCOMPARE(mendwell({ u"restore"_s, m_folder }).status, 0);
    QVERIFY(QFileInfo::exists(culprit));
    status = mendwell({ u"status"_s, m_folder });
    QVERIFY2(!status.out.contains(u"kept"_s) && status.out.contains(u"back in the folder"_s),
        qPrintable(status.out));
}

// What counts as the game running: the game of the folder's generation, run by this user and alive,
// native or through Wine or Proton's launcher; the player may name a process that only looks like it.
void tst_Repair::runningGameShapes_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<bool>("counts");
    QTest::newRow("native") << u"native"_s << true;
    QTest::newRow("Proton's launcher") << u"proton"_s << true;
    QTest::newRow("Wine, the Windows path as its name") << u"wine"_s << true;
    QTest::newRow("another generation's game") << u"sims3"_s << false;
    QTest::newRow("a zombie") << u"zombie"_s << false;
    QTest::newRow("another user's game") << u"nobody"_s << false;
    QTest::newRow("named in MENDWELL_IGNORE_PID") << u"ignored"_s << false;
}

void tst_Repair::runningGameShapes()
{
    QFETCH(QString, shape);
    QFETCH(bool, counts);
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther
            | QFile::ReadGroup | QFile::ExeGroup);
    const QString game = dir.filePath(shape == u"sims3"_s ? u"TS3W.exe"_s : u"TS4_x64.exe"_s);
    QVERIFY(QFile::copy(u"/bin/sleep"_s, game));
    QProcess process;
    qint64 pid = 0;
    QByteArray shown; // what /proc shows once the process is what it pretends to be
    if (shape == u"zombie"_s) {
        pid = ::fork();
        if (pid == 0) {
            ::execl(QFile::encodeName(game).constData(), "TS4_x64.exe", "0", nullptr);
            ::_exit(127);
        }
        shown = ") Z";
    } else if (shape == u"proton"_s) {
        QProcess where;
        where.start(u"python3"_s, { u"-c"_s, u"import sys; print(sys.executable)"_s });
        if (!where.waitForFinished() || where.exitCode() != 0)
            QSKIP("no python3 to stand in for Proton's launcher");
        const QString python = QString::fromUtf8(where.readAllStandardOutput().trimmed());
        QFile script(dir.filePath(u"proton"_s));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("import time\ntime.sleep(120)\n");
        script.close();
        process.start(python, { script.fileName(), u"waitforexitandrun"_s, game });
        shown = "waitforexitandrun";
    } else if (shape == u"wine"_s) {
        process.start(u"/bin/bash"_s,
            { u"-c"_s,
                u"exec -a 'C:\\Program Files\\EA Games\\The Sims 4\\Game\\Bin\\TS4_x64.exe' /bin/sleep 120"_s });
        shown = "C:\\Program Files";
    } else if (shape == u"nobody"_s) {
        if (::geteuid() != 0)
            QSKIP("only root can start a process as another user");
        process.start(
            u"setpriv"_s, { u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, game, u"120"_s });
        shown = QFile::encodeName(QFileInfo(game).fileName());
    } else {
        process.start(game, { u"120"_s });
        shown = QFile::encodeName(QFileInfo(game).fileName());
    }
    if (pid == 0) {
        QVERIFY(process.waitForStarted());
        pid = process.processId();
    }
    // Until the child has become the program, /proc shows this test.
    const QByteArray proc = "/proc/" + QByteArray::number(pid);
    for (int i = 0; i < 2000; ++i) {
        const bool byName = shape != u"zombie"_s && shape != u"proton"_s && shape != u"wine"_s;
        QFile cmdline(QFile::decodeName(proc
            + (shape == u"zombie"_s ? "/stat"
                    : byName        ? "/comm"
                                    : "/cmdline")));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(shown)
            && !QFile::symLinkTarget(QFile::decodeName(proc + "/exe")).endsWith(u"tst_repair"_s)
            && (shape != u"wine"_s || QFile::symLinkTarget(QFile::decodeName(proc + "/exe")).endsWith(u"sleep"_s)))
            break;
        QThread::msleep(5);
    }
    if (shape == u"ignored"_s)
        qputenv("MENDWELL_IGNORE_PID", "1," + QByteArray::number(pid));
    const QList<RunningGame> games = runningGames(4);
    qunsetenv("MENDWELL_IGNORE_PID");
    const bool found
        = std::any_of(games.cbegin(), games.cend(), [pid](const RunningGame& g) { return g.pid == pid; });
    if (shape == u"zombie"_s)
        ::waitpid(pid_t(pid), nullptr, 0);
    else
        process.kill();
    process.waitForFinished();
    QCOMPARE(found, counts);
}

// The message names the program and its id, and the way out of a false match works.
void tst_Repair::falseMatchHasAWayOut()
{
    takeSnapshot();
    addFile(m_folder + u"/A.package"_s, "a");
    PretendGame game;
    QVERIFY(game.running());
    const QList<RunningGame> games = runningGames(4);
    QVERIFY(!games.isEmpty());
    Run run = mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s });
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"TS4_x64.exe"_s) && run.err.contains(u"MENDWELL_IGNORE_PID="_s),
        qPrintable(run.err));
    const QString pid = run.err.section(u"MENDWELL_IGNORE_PID="_s, 1).section(u' ', 0, 0);
    QVERIFY2(run.err.contains(u"process %1"_s.arg(pid)), qPrintable(run.err));
    QStringList pids;
    for (const RunningGame& running : games)
        pids.append(QString::number(running.pid));
    qputenv("MENDWELL_IGNORE_PID", pids.join(u',').toUtf8());
    run = mendwell({ u"quarantine"_s, m_folder, u"--since"_s, u"1"_s });
    qunsetenv("MENDWELL_IGNORE_PID");
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(!QFileInfo::exists(m_folder + u"/A.package"_s));
}

QTEST_GUILESS_MAIN(tst_Repair)
#include "tst_repair.moc"
