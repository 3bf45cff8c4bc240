// SPDX-License-Identifier: GPL-3.0-or-later
#include "bisect.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <bit>
#include <functional>

using namespace Qt::StringLiterals;
using mending::BisectAnswer;
using mending::BisectError;
using mending::BisectGroup;
using mending::BisectSession;
using mending::BisectStore;

Q_DECLARE_METATYPE(BisectError::Kind)
Q_DECLARE_METATYPE(BisectGroup)

class tst_Bisect : public QObject
{
    Q_OBJECT
private slots:
    void findsCulprit_data();
    void findsCulprit();
    void findsEveryCulprit_data();
    void findsEveryCulprit();
    void erraticPlayer_data();
    void erraticPlayer();
    void stopBringsEverythingBack_data();
    void stopBringsEverythingBack();
    void summary_data();
    void summary();
    void badGroups_data();
    void badGroups();
    void outOfTurn_data();
    void outOfTurn();
    void restartBetweenEveryStep_data();
    void restartBetweenEveryStep();
    void sameFolderByOtherNames();
    void unusableStoreFile_data();
    void unusableStoreFile();
    void damagedSession_data();
    void damagedSession();
    void volumeFaults_data();
    void volumeFaults();
    void killedAtAnyMoment_data();
    void killedAtAnyMoment();
    void twoAnswersAtOnce_data();
    void twoAnswersAtOnce();
    void twoProgramsFindItDamaged();
    void spoiltPage();
};

namespace {

int ceilLog2(int n)
{
    int bits = 0;
    while ((1 << bits) < n)
        ++bits;
    return bits;
}

// The answers a 50/50 may take at most for bad groups among G: round 0, the halvings and a
// confirming round for each. One group alone needs round 0 only.
int bound(int groups, int bad = 1)
{
    if (bad <= 1)
        return groups == 1 ? 1 : 2 + ceilLog2(groups);
    return bad * (1 + ceilLog2(groups)) + bad;
}

// Files a mod leaves: one to three per group, and now and then a name that is no UTF-8.
QList<BisectGroup> makeGroups(int count)
{
    QList<BisectGroup> groups;
    for (int i = 0; i < count; ++i) {
        BisectGroup group { u"Mod %1"_s.arg(i), {} };
        const QByteArray folder = "Mods/mod " + QByteArray::number(i) + '/';
        group.paths.append(folder + "a.package");
        if (i % 3 >= 1)
            group.paths.append(folder + "a.ts4script");
        if (i % 3 == 2)
            group.paths.append(folder + "caf\xe9 \xff.package");
        groups.append(group);
    }
    return groups;
}

// Which groups are in the game folder, changed only as the session announces.
struct Folder
{
    explicit Folder(int groups)
        : in(groups, true)
    { }

    // Strict: each announced move must find the group where the last layout left it.
    QString apply(const mending::BisectMoves& moves)
    {
        for (int group : moves.moveOut) {
            if (!in[group])
                return u"group %1 moved out twice"_s.arg(group);
            in[group] = false;
        }
        for (int group : moves.bringBack) {
            if (in[group])
                return u"group %1 brought back while in"_s.arg(group);
            in[group] = true;
        }
        return {};
    }

    QList<int> out() const
    {
        QList<int> groups;
        for (int group = 0; group < in.size(); ++group) {
            if (!in[group])
                groups.append(group);
        }
        return groups;
    }

    QList<bool> in;
};

QString listText(const QList<int>& groups)
{
    QStringList parts;
    for (int group : groups)
        parts.append(QString::number(group));
    return u"{"_s + parts.join(u',') + u"}"_s;
}

QString describe(const BisectSession& session);

// A player whose game is broken exactly when a bad group's files are in the folder; with no bad
// group an old file breaks it whatever is moved. Returns what went wrong, or nothing.
QString play(const BisectSession& fresh, QList<int> bad, int* roundsPlayed)
{
    std::sort(bad.begin(), bad.end());
    const int count = int(fresh.groups().size());
    const QString where = u"G=%1 bad=%2: "_s.arg(count).arg(listText(bad));
    BisectSession session = fresh;
    Folder folder(count);
    if (session.mostRounds() != bound(count))
        return where + u"promises %1 rounds at most"_s.arg(session.mostRounds());
    int answers = 0;
    for (;;) {
        const QString moved = folder.apply(session.moves());
        if (!moved.isEmpty())
            return where + moved;
        if (folder.out() != session.out()) {
            return where
                + u"round %1: folder has %2 out, session says %3"_s.arg(session.round())
                      .arg(listText(folder.out()), listText(session.out()));
        }
        session.movesDone(session.step());
        if (!session.moves().moveOut.isEmpty() || !session.moves().bringBack.isEmpty())
            return where + u"moves still announced once done"_s;
        if (!session.running())
            break;
        if (session.contradicted())
            return where + u"an honest answer was called a contradiction: "_s + session.contradiction();
        if (bad.size() == 1 && answers + session.roundsLeftAtMost() > bound(count))
            return where + u"round %1 leaves %2 rounds"_s.arg(answers).arg(session.roundsLeftAtMost());
        for (int culprit : session.culprits()) {
            if (!bad.contains(culprit) || folder.in[culprit])
                return where + u"culprit %1 named while running"_s.arg(culprit);
        }
        bool broken = bad.isEmpty();
        for (int group : bad)
            broken = broken || folder.in[group];
        session.answer(broken ? BisectAnswer::Broken : BisectAnswer::Works, session.round());
        ++answers;
        if (answers > bound(count, int(bad.size())))
            return where + u"still running after %1 answers"_s.arg(answers);
    }
    *roundsPlayed = answers;
    if (bad.isEmpty()) {
        if (session.state() != BisectSession::State::NotAmongNew || answers != 1 || !folder.out().isEmpty())
            return where + u"the old file was not recognised, %1 out"_s.arg(listText(folder.out()));
    } else {
        QList<int> named = session.culprits();
        std::sort(named.begin(), named.end());
        if (session.state() != BisectSession::State::CulpritFound || named != bad)
            return where + u"named %1"_s.arg(listText(session.culprits()));
        if (folder.out() != bad)
            return where + u"ends with %1 out"_s.arg(listText(folder.out()));
        // Every other group was in the folder at some "works".
        for (int group : session.cleared()) {
            if (bad.contains(group))
                return where + u"cleared %1"_s.arg(group);
        }
        if (session.cleared().size() + bad.size() != count)
            return where + u"only %1 cleared"_s.arg(listText(session.cleared()));
    }
    const QString replayed = describe(BisectSession::replay(session.groups(), session.events()));
    if (replayed != describe(session))
        return where + u"replay differs:\n"_s + replayed + u"\n---\n"_s + describe(session);
    return {};
}

std::optional<BisectError> errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const BisectError& error) {
        return error;
    }
    return std::nullopt;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// Everything a caller can read from a session, so two sessions can be compared as a whole.
QString describe(const BisectSession& session)
{
    QStringList text;
    text << u"state %1 round %2 step %3 pending %4 left %5 most %6 culprit %7"_s.arg(int(session.state()))
                .arg(session.round())
                .arg(session.step())
                .arg(session.movesPending())
                .arg(session.roundsLeftAtMost())
                .arg(session.mostRounds())
                .arg(session.culprit());
    text << u"out "_s + listText(session.out()) << u"suspects "_s + listText(session.suspects())
         << u"culprits "_s + listText(session.culprits()) << u"cleared "_s + listText(session.cleared());
    text << u"move out "_s + listText(session.moves().moveOut)
         << u"bring back "_s + listText(session.moves().bringBack);
    text << session.summary();
    for (const BisectGroup& group : session.groups()) {
        QStringList paths;
        for (const QByteArray& path : group.paths)
            paths.append(QString::fromLatin1(path.toHex()));
        text << group.key + u": "_s + paths.join(u' ');
    }
    return text.join(u'\n');
}

}

void tst_Bisect::findsCulprit_data()
{
    QTest::addColumn<int>("count");
    for (int count = 1; count <= 64; ++count)
        QTest::addRow("%d groups", count) << count;
    QTest::newRow("200 groups") << 200;
}

void tst_Bisect::findsCulprit()
{
    QFETCH(int, count);
    int longest = 0;
    // Every player gets a copy of one session, just started.
    const BisectSession fresh = BisectSession::start(makeGroups(count));
    for (int culprit = -1; culprit < count; ++culprit) {
        int rounds = 0;
        const QString fault = play(fresh, culprit < 0 ? QList<int>() : QList<int> { culprit }, &rounds);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        if (culprit >= 0)
            longest = std::max(longest, rounds);
    }
    // The bound is also what the worst placed culprit takes, so the session promises no more than it needs.
    QCOMPARE(longest, bound(count));
}

void tst_Bisect::findsEveryCulprit_data()
{
    QTest::addColumn<int>("bad");
    QTest::addColumn<QString>("where");
    for (int bad : { 2, 3 }) {
        for (const char* where : { "first", "last", "adjacent in the middle", "spread", "both halves",
                 "every placement among few" })
            QTest::addRow("%d bad, %s", bad, where) << bad << QString::fromLatin1(where);
    }
    QTest::newRow("all bad, up to 3 groups") << 0 << u"all"_s;
}

// Two or three bad groups in each kind of place among 1 to 64 groups: every one is named, no innocent
// stays out, and the answers stay within the bound.
void tst_Bisect::findsEveryCulprit()
{
    QFETCH(int, bad);
    QFETCH(QString, where);
    int played = 0;
    for (int count = 1; count <= 64; ++count) {
        QList<QList<int>> placements;
        const int k = bad == 0 ? count : bad;
        if (k > count || (bad == 0 && count > 3))
            continue;
        auto run = [k](int from, int step) {
            QList<int> groups;
            for (int i = 0; i < k; ++i)
                groups.append(from + i * step);
            return groups;
        };
        if (where == u"first"_s || where == u"all"_s)
            placements.append(run(0, 1));
        else if (where == u"last"_s)
            placements.append(run(count - k, 1));
        else if (where == u"adjacent in the middle"_s)
            placements.append(run(std::max(0, std::min(count / 2 - 1, count - k)), 1));
        else if (where == u"spread"_s)
            placements.append(run(0, k > 1 ? (count - 1) / (k - 1) : 1));
        else if (where == u"both halves"_s && count >= 2 * k) {
            // Across the first split, and far apart on either side of it.
            const int firstOut = (count + 1) / 2;
            placements.append(QList<int> { firstOut - 1 } + run(firstOut, 1).mid(0, k - 1));
            placements.append(run(0, 1).mid(0, k - 1) + QList<int> { count - 1 });
        } else if (where == u"every placement among few"_s && count <= (k == 2 ? 12 : 8)) {
            for (int mask = 0; mask < (1 << count); ++mask) {
                if (std::popcount(unsigned(mask)) != k)
                    continue;
                QList<int> groups;
                for (int group = 0; group < count; ++group) {
                    if (mask & (1 << group))
                        groups.append(group);
                }
                placements.append(groups);
            }
        }
        const BisectSession fresh = BisectSession::start(makeGroups(count));
        for (const QList<int>& placement : placements) {
            QCOMPARE(QSet<int>(placement.begin(), placement.end()).size(), k);
            int rounds = 0;
            const QString fault = play(fresh, placement, &rounds);
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
            QVERIFY(rounds <= bound(count, k));
            ++played;
        }
    }
    QVERIFY(played > 0);
}

namespace {

using Answered = QList<QPair<QList<int>, bool>>; // the groups out at each answer, and whether it worked

// The verdict agrees with every answer: each culprit out of the folder at every "works", one in it at
// every "still broken", within the bound for the culprits named. Returns what went wrong, or nothing.
QString checkVerdict(const BisectSession& session, const Answered& answered)
{
    const int count = int(session.groups().size());
    if (session.state() == BisectSession::State::NotAmongNew)
        return answered.size() == 1 ? QString() : u"not among the new after %1 answers"_s.arg(answered.size());
    QList<int> culprits = session.culprits();
    if (session.state() != BisectSession::State::CulpritFound || culprits.isEmpty())
        return u"ended without a culprit"_s;
    if (answered.size() > 1 + int(culprits.size()) * (1 + ceilLog2(count)))
        return u"%1 answers for %2 culprits"_s.arg(answered.size()).arg(culprits.size());
    for (const auto& [out, works] : answered) {
        bool culpritIn = false;
        for (int culprit : culprits)
            culpritIn = culpritIn || !out.contains(culprit);
        if (culpritIn == works)
            return u"the answer with %1 out disagrees with the culprits %2"_s.arg(listText(out), listText(culprits));
    }
    std::sort(culprits.begin(), culprits.end());
    if (session.out() != culprits)
        return u"ends with %1 out"_s.arg(listText(session.out()));
    if (describe(BisectSession::replay(session.groups(), session.events())) != describe(session))
        return u"replay differs"_s;
    return {};
}

// Every way of answering from here on; returns how many endings were reached.
int answerEveryWay(BisectSession session, Answered answered, QString* fault)
{
    session.movesDone(session.step());
    if (!session.running()) {
        *fault = checkVerdict(session, answered);
        return 1;
    }
    if (session.contradicted()) {
        *fault = u"contradiction: "_s + session.contradiction();
        return 1;
    }
    int endings = 0;
    for (const bool works : { true, false }) {
        BisectSession next = session;
        Answered more = answered;
        more.append({ next.out(), works });
        next.answer(works ? BisectAnswer::Works : BisectAnswer::Broken);
        endings += answerEveryWay(next, more, fault);
        if (!fault->isEmpty()) {
            *fault = listText(session.out()) + (works ? u" works, "_s : u" broken, "_s) + *fault;
            return endings;
        }
    }
    return endings;
}

}

void tst_Bisect::erraticPlayer_data()
{
    QTest::addColumn<int>("count");
    for (int count : { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 33, 64 })
        QTest::addRow("%d groups", count) << count;
}

// A player who answers anything, as one with a flaky game might: every answer sequence for up to 10
// groups, random ones beyond. The session never asks about a layout that earlier answers settle,
// so no answer contradicts another, and its verdict agrees with every answer given.
void tst_Bisect::erraticPlayer()
{
    QFETCH(int, count);
    const BisectSession fresh = BisectSession::start(makeGroups(count));
    if (count <= 10) {
        QString fault;
        const int endings = answerEveryWay(fresh, {}, &fault);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        // One ending for each set of groups the answers can blame, and one for none of them.
        QCOMPARE(endings, 1 << count);
        return;
    }
    QRandomGenerator generator { quint32(count) };
    for (int game = 0; game < 60; ++game) {
        BisectSession session = fresh;
        Answered answered;
        while (session.running()) {
            session.movesDone(session.step());
            QVERIFY2(!session.contradicted(), qPrintable(session.summary()));
            // Round 0 is answered "works" mostly, or the 50/50 would end at once.
            const bool works = generator.bounded(session.round() == 0 ? 8 : 2) != 0;
            answered.append({ session.out(), works });
            session.answer(works ? BisectAnswer::Works : BisectAnswer::Broken);
        }
        session.movesDone(session.step());
        const QString fault = checkVerdict(session, answered);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }
}

void tst_Bisect::stopBringsEverythingBack_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("culprit");
    QTest::addColumn<int>("answers"); // given before the stop; rows count rounds from 1, as players do
    QTest::addColumn<int>("movedOfRound"); // how many of the round's moves were made before the stop; -1: all

    QTest::newRow("round 1 before any move") << 9 << 8 << 0 << 0;
    QTest::newRow("round 1 with half moved out") << 9 << 8 << 0 << 4;
    QTest::newRow("round 1 with all moved out") << 9 << 8 << 0 << -1;
    QTest::newRow("round 2 before any move") << 9 << 8 << 1 << 0;
    QTest::newRow("round 2, some brought back") << 9 << 8 << 1 << 1;
    QTest::newRow("round 2 with all moved") << 9 << 8 << 1 << -1;
    QTest::newRow("round 3, one of two moved out") << 9 << 0 << 2 << 1;
    QTest::newRow("round 3, both moved out") << 9 << 4 << 2 << 2;
    QTest::newRow("round 4, one moved out") << 9 << 0 << 3 << 1;
    QTest::newRow("round 4 half moved") << 9 << 8 << 3 << 1;
    QTest::newRow("confirming round, moved out, some brought back") << 9 << 0 << 5 << 4;
    // With one culprit the end's layout is the last round's, so the end has nothing to move.
    QTest::newRow("the end after the confirming round") << 9 << 0 << 6 << 0;
    QTest::newRow("one group, nothing moved") << 1 << 0 << 0 << 0;
}

void tst_Bisect::stopBringsEverythingBack()
{
    QFETCH(int, count);
    QFETCH(int, culprit);
    QFETCH(int, answers);
    QFETCH(int, movedOfRound);
    BisectSession session = BisectSession::start(makeGroups(count));
    Folder folder(count);
    for (int i = 0;; ++i) {
        const mending::BisectMoves moves = session.moves();
        if (i == answers && movedOfRound >= 0) {
            // Cut short: the first moves of the list are made, the rest not.
            QList<int> all = moves.moveOut + moves.bringBack;
            QVERIFY(movedOfRound <= all.size());
            for (int k = 0; k < movedOfRound; ++k)
                folder.in[all[k]] = k >= moves.moveOut.size();
            break;
        }
        QCOMPARE(folder.apply(moves), QString());
        session.movesDone(session.step());
        if (i == answers)
            break;
        session.answer(folder.in[culprit] ? BisectAnswer::Broken : BisectAnswer::Works);
    }
    const int round = session.round();
    if (session.running()) {
        session.stop();
        QCOMPARE(session.state(), BisectSession::State::Stopped);
        QCOMPARE(session.round(), round);
        QVERIFY(session.out().isEmpty());
        QVERIFY(session.moves().moveOut.isEmpty());
        QVERIFY2(session.summary().contains(u"every group comes back"_s), qPrintable(session.summary()));
        // Every group that may be out is named, so bringing them back leaves none behind.
        for (int group : session.moves().bringBack)
            folder.in[group] = true;
        QCOMPARE(listText(folder.out()), listText({}));
    } else {
        // A crash during the end's moves: doing them all again leaves only the culprit out.
        QCOMPARE(session.culprit(), culprit);
        for (int group : session.moves().moveOut)
            folder.in[group] = false;
        for (int group : session.moves().bringBack)
            folder.in[group] = true;
        QCOMPARE(listText(folder.out()), listText({ culprit }));
    }
}

void tst_Bisect::summary_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("answers"); // w and b, each after the round's moves
    QTest::addColumn<bool>("moved"); // the moves of the last layout done
    QTest::addColumn<QString>("text");

    QTest::newRow("start")
        << 5 << u""_s << false
        << u"Round 1 of at most 5: move 5 groups out of the folder. Keep the game closed while "
           "the files move."_s;
    QTest::newRow("round 1 ready")
        << 5 << u""_s << true
        << u"Round 1 of at most 5: 5 of 5 groups are out of the folder. Start the game: "
           "does it work now?"_s;
    QTest::newRow("round 2 moves")
        << 5 << u"w"_s << false
        << u"Round 2 of at most 5: bring 3 groups back into the folder. Keep the game closed while the files move."_s;
    QTest::newRow("round 2 ready")
        << 5 << u"w"_s << true
        << u"Round 2 of at most 5: 2 of 5 groups are out of the folder. Start the game: "
           "does it work now?"_s;
    // The last suspect goes out, and the uncleared groups come in to confirm it.
    QTest::newRow("confirming round, both ways") << 5 << u"wbbb"_s << false
                                              << u"Round 5 of at most 5: move 1 group out of the folder and "
                                                 u"bring 4 groups back. Keep the game closed "
                                                 "while the files move."_s;
    QTest::newRow("second culprit sought")
        << 3 << u"wbbb"_s << true
        << u"Found so far: \"Mod 0\" (1 file), which stays out while the search goes on among the "
           "others. Round 5 of at most 6: 2 of 3 groups are out of the folder. Start the game: does it "
           "work now?"_s;
    QTest::newRow("one group ready")
        << 1 << u""_s << true
        << u"Round 1 of at most 1: the one group is out of the folder. Start the game: "
           "does it work now?"_s;
    QTest::newRow("culprit in two rounds")
        << 2 << u"ww"_s << false
        << u"The culprit is \"Mod 1\" (2 files). Every other group comes back "
           "into the folder; the culprit stays out."_s;
    QTest::newRow("culprit of one file")
        << 1 << u"w"_s << true
        << u"The culprit is \"Mod 0\" (1 file). Every other group comes back "
           "into the folder; the culprit stays out."_s;
    QTest::newRow("two culprits")
        << 2 << u"wbb"_s << false
        << u"The culprits are \"Mod 0\" (1 file) and \"Mod 1\" (2 files). Every other group comes back "
           "into the folder; the culprits stay out."_s;
    QTest::newRow("three culprits") << 3 << u"wbbbbb"_s << false
                                    << u"The culprits are \"Mod 0\" (1 file), \"Mod 1\" (2 files) and "
                                       "\"Mod 2\" (3 files). Every other group comes back into the folder; "
                                       "the culprits stay out."_s;
    QTest::newRow("not among the new") << 4 << u"b"_s << false
                                       << u"The game is broken with every new file out, so the cause is not "
                                          u"among the new files: every group "
                                          "comes back. Try deleting the game's cache "
                                          "(localthumbcache.package beside Mods), and look at older "
                                          "script mods after a game patch."_s;
}

// What the player reads at each turn.
void tst_Bisect::summary()
{
    QFETCH(int, count);
    QFETCH(QString, answers);
    QFETCH(bool, moved);
    QFETCH(QString, text);
    BisectSession session = BisectSession::start(makeGroups(count));
    for (QChar answer : answers) {
        session.movesDone(session.step());
        session.answer(answer == u'w' ? BisectAnswer::Works : BisectAnswer::Broken);
    }
    if (moved)
        session.movesDone(session.step());
    QCOMPARE(session.summary(), text);
}

void tst_Bisect::badGroups_data()
{
    QTest::addColumn<QList<BisectGroup>>("groups");
    QTest::addColumn<QString>("message");

    const BisectGroup good { u"Good"_s, { "Mods/good.package" } };
    QTest::newRow("no groups") << QList<BisectGroup>() << u"no new groups"_s;
    QTest::newRow("group without files")
        << QList<BisectGroup> { good, { u"Empty"_s, {} } } << u"\"Empty\" has no files"_s;
    QTest::newRow("key used twice") << QList<BisectGroup> { good, { u"Good"_s, { "Mods/other.package" } } }
                                    << u"\"Good\" is named twice"_s;
    QTest::newRow("file in two groups")
        << QList<BisectGroup> { good, { u"Other"_s, { "Mods/good.package" } } }
        << u"\"Mods/good.package\" belongs to two groups"_s;
    QTest::newRow("absolute path") << QList<BisectGroup> { good, { u"Abs"_s, { "/etc/passwd" } } }
                                   << u"\"/etc/passwd\" of the group \"Abs\" is not inside"_s;
    QTest::newRow("path climbing out") << QList<BisectGroup> { { u"Up"_s, { "Mods/../../save.dat" } } }
                                       << u"is not inside the game folder"_s;
    QTest::newRow("empty path") << QList<BisectGroup> { { u"Blank"_s, { "" } } } << u"is not inside"_s;
}

void tst_Bisect::badGroups()
{
    QFETCH(QList<BisectGroup>, groups);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BisectStore store(dir.filePath(u"bisect.sqlite"_s));
    const auto error = errorOf([&] { store.start(dir.path(), groups); });
    QVERIFY(error);
    QCOMPARE(error->kind(), BisectError::BadGroups);
    QVERIFY2(error->message().contains(message), qPrintable(error->message()));
    QVERIFY(!store.load(dir.path()));
}

void tst_Bisect::outOfTurn_data()
{
    QTest::addColumn<QStringList>("steps"); // the last one is refused
    QTest::addColumn<QString>("message");

    QTest::newRow("works before start") << QStringList { u"works"_s } << u"No 50/50 was started"_s;
    QTest::newRow("broken before start") << QStringList { u"broken"_s } << u"No 50/50 was started"_s;
    QTest::newRow("stop before start") << QStringList { u"stop"_s } << u"No 50/50 was started"_s;
    QTest::newRow("moves before start") << QStringList { u"moved:0"_s } << u"No 50/50 was started"_s;
    QTest::newRow("answer before the moves of round 1")
        << QStringList { u"start:4"_s, u"works"_s } << u"round 1 have not all been moved"_s;
    QTest::newRow("answer before the moves of round 2") << QStringList { u"start:4"_s, u"moved"_s, u"works"_s,
        u"broken"_s } << u"round 2 have not all been moved"_s;
    QTest::newRow("answer for an older round") << QStringList { u"start:4"_s, u"moved"_s, u"works@0"_s,
        u"moved"_s, u"broken@0"_s } << u"answer was for round 1, but the 50/50 is at round 2"_s;
    QTest::newRow("answer for a later round") << QStringList { u"start:4"_s, u"moved"_s, u"works@1"_s }
                                              << u"for round 2, but the 50/50 is at round 1"_s;
    QTest::newRow("moves of a later step")
        << QStringList { u"start:4"_s, u"moved:1"_s } << u"reported for step 1, but the 50/50 is at step 0"_s;
    QTest::newRow("moves of an older step")
        << QStringList { u"start:4"_s, u"moved"_s, u"works"_s, u"moved:0"_s } << u"for step 0, but"_s;
    QTest::newRow("works after the culprit is named") << QStringList { u"start:2"_s, u"moved"_s, u"works"_s,
        u"moved"_s, u"broken"_s, u"moved"_s, u"works"_s, u"moved"_s, u"works"_s }
                                                      << u"is over. The culprit is \"Mod 0\" (1 file)"_s;
    QTest::newRow("stop after the culprit is named")
        << QStringList { u"start:1"_s, u"moved"_s, u"works"_s, u"stop"_s } << u"is over. The culprit"_s;
    QTest::newRow("broken after not among the new") << QStringList { u"start:3"_s, u"moved"_s, u"broken"_s,
        u"moved"_s, u"broken"_s } << u"not among the new files"_s;
    QTest::newRow("works after stop")
        << QStringList { u"start:3"_s, u"stop"_s, u"works"_s } << u"was stopped"_s;
    QTest::newRow("stop twice") << QStringList { u"start:3"_s, u"moved"_s, u"stop"_s, u"moved"_s, u"stop"_s }
                                << u"was stopped"_s;
    QTest::newRow("start while running")
        << QStringList { u"start:3"_s, u"moved"_s, u"start:2"_s } << u"already under way"_s;
    QTest::newRow("start while the end's moves are pending")
        << QStringList { u"start:3"_s, u"moved"_s, u"stop"_s, u"start:2"_s } << u"still moving back"_s;
}

void tst_Bisect::outOfTurn()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString game = dir.path();
    BisectStore store(dir.filePath(u"bisect.sqlite"_s));
    auto perform = [&](const QString& step) {
        const QString verb = step.section(u':', 0, 0).section(u'@', 0, 0);
        const QString argument = step.contains(u':') ? step.section(u':', 1) : step.section(u'@', 1);
        const int number = argument.isEmpty() ? -1 : argument.toInt();
        if (verb == u"start"_s)
            store.start(game, makeGroups(number));
        else if (verb == u"moved"_s)
            store.movesDone(game, number >= 0 ? number : store.load(game)->step());
        else if (verb == u"works"_s)
            store.answer(game, BisectAnswer::Works, number);
        else if (verb == u"broken"_s)
            store.answer(game, BisectAnswer::Broken, number);
        else if (verb == u"stop"_s)
            store.stop(game);
        else
            QFAIL("unknown step");
    };
    for (qsizetype i = 0; i + 1 < steps.size(); ++i)
        perform(steps[i]);
    const std::optional<BisectSession> before = store.load(game);
    const QByteArray bytesBefore = contents(store.filePath());

    const auto error = errorOf([&] { perform(steps.last()); });
    QVERIFY(error);
    QCOMPARE(error->kind(), BisectError::OutOfTurn);
    QVERIFY2(error->message().contains(message), qPrintable(error->message()));

    // A refusal changes nothing on disk.
    QCOMPARE(contents(store.filePath()), bytesBefore);
    const std::optional<BisectSession> after = BisectStore(store.filePath()).load(game);
    QCOMPARE(bool(after), bool(before));
    if (before)
        QCOMPARE(describe(*after), describe(*before));
}

void tst_Bisect::restartBetweenEveryStep_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("culprit");
    QTest::addColumn<int>("stopAtRound"); // -1: played to the end
    for (int count : { 1, 2, 3, 7, 16, 33, 256 }) {
        QSet<int> culprits { -1, 0, count / 2, count - 1 };
        for (int culprit : culprits)
            QTest::addRow("%d groups, culprit %d", count, culprit) << count << culprit << -1;
    }
    QTest::newRow("stopped in round 3") << 33 << 5 << 2;
}

// Every call is made on a store object opened just for it, as after a restart of the program, and
// between answer and moves too, as after a crash there; the session read back must be the one a
// program that never stopped would hold.
void tst_Bisect::restartBetweenEveryStep()
{
    QFETCH(int, count);
    QFETCH(int, culprit);
    QFETCH(int, stopAtRound);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"state/bisect.sqlite"_s);
    const QString game = dir.filePath(u"The Sims 4"_s);
    QVERIFY(QDir().mkpath(game));

    BisectSession kept = BisectSession::start(makeGroups(count));
    QCOMPARE(describe(BisectStore(path).start(game, makeGroups(count))), describe(kept));
    Folder folder(count);
    for (int rounds = 0; rounds <= bound(count) + 1; ++rounds) {
        std::optional<BisectSession> loaded = BisectStore(path).load(game);
        QVERIFY(loaded);
        QCOMPARE(describe(*loaded), describe(kept));
        QVERIFY(loaded->movesPending());
        QCOMPARE(folder.apply(loaded->moves()), QString());

        kept.movesDone(kept.step());
        QCOMPARE(describe(BisectStore(path).movesDone(game, loaded->step())), describe(kept));
        loaded = BisectStore(path).load(game);
        QCOMPARE(describe(*loaded), describe(kept));
        if (!kept.running())
            break;

        if (kept.round() == stopAtRound) {
            kept.stop();
            QCOMPARE(describe(BisectStore(path).stop(game)), describe(kept));
            continue;
        }
        const BisectAnswer answer
            = culprit == -1 || folder.in[culprit] ? BisectAnswer::Broken : BisectAnswer::Works;
        kept.answer(answer);
        QCOMPARE(describe(BisectStore(path).answer(game, answer, loaded->round())), describe(kept));
    }
    QVERIFY(!kept.running());
    if (stopAtRound >= 0) {
        QCOMPARE(kept.state(), BisectSession::State::Stopped);
        QVERIFY(folder.out().isEmpty());
    } else if (culprit >= 0) {
        QCOMPARE(kept.culprit(), culprit);
        QCOMPARE(folder.out(), QList<int> { culprit });
    } else {
        QVERIFY(folder.out().isEmpty());
    }

    // A finished session may be replaced by a new one.
    QCOMPARE(BisectStore(path).start(game, makeGroups(2)).groups().size(), 2);
    QCOMPARE(BisectStore(path).load(game)->groups().size(), 2);
}

void tst_Bisect::sameFolderByOtherNames()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString game = dir.filePath(u"Mods"_s);
    QVERIFY(QDir().mkpath(game));
    QVERIFY(QFile::link(game, dir.filePath(u"link"_s)));
    BisectStore store(dir.filePath(u"bisect.sqlite"_s));
    store.start(game + u"/"_s, makeGroups(5));
    const QString names[] = { game, game + u"/."_s, dir.filePath(u"link"_s), dir.filePath(u"x/../Mods"_s) };
    for (const QString& name : names) {
        const std::optional<BisectSession> session = store.load(name);
        QVERIFY2(session && session->groups().size() == 5, qPrintable(name));
    }
    QVERIFY(!store.load(dir.path()));
}

void tst_Bisect::unusableStoreFile_data()
{
    QTest::addColumn<QByteArray>("sql"); // run on a good store first; empty: the file is replaced
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");

    QByteArray noise(4096, Qt::Uninitialized);
    QRandomGenerator generator(11);
    for (char& byte : noise)
        byte = char(generator.bounded(256));
    QTest::newRow("random bytes") << QByteArray() << noise << u"is not a 50/50 store"_s;
    QTest::newRow("a text file") << QByteArray() << QByteArray("Mods/a.package\nMods/b.package\n")
                                 << u"is not a 50/50 store"_s;
    QTest::newRow("another program's database")
        << QByteArray("DROP TABLE bisect_meta; DROP TABLE bisect_sessions; DROP TABLE bisect_groups; "
                      "DROP TABLE bisect_files; DROP TABLE bisect_events; CREATE TABLE photos (id, data); "
                      "INSERT INTO photos VALUES (1, 'sunset')")
        << QByteArray() << u"holds a table \"photos\""_s;
    QTest::newRow("newer version") << QByteArray("UPDATE bisect_meta SET value = 3 WHERE name = 'version'")
                                   << QByteArray() << u"is of version 3; this Mendwell reads version 2 only"_s;
    QTest::newRow("older version") << QByteArray("UPDATE bisect_meta SET value = 1 WHERE name = 'version'")
                                   << QByteArray() << u"is of version 1; this Mendwell reads version 2 only"_s;
    QTest::newRow("version that is no number")
        << QByteArray("UPDATE bisect_meta SET value = 'one' WHERE name = 'version'") << QByteArray()
        << u"is of version one"_s;
    QTest::newRow("version missing") << QByteArray("DELETE FROM bisect_meta") << QByteArray()
                                     << u"does not say its version"_s;
    QTest::newRow("table missing") << QByteArray("DROP TABLE bisect_events") << QByteArray()
                                   << u"lacks its table bisect_events"_s;
}

// A file that is no store of this version is kept byte for byte under a new name beside it, the
// message names it, and a fresh store works; a second such file in the same second replaces neither.
void tst_Bisect::unusableStoreFile()
{
    QFETCH(QByteArray, sql);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"bisect.sqlite"_s);
    QList<QByteArray> spoilt;
    for (int time = 0; time < 2; ++time) {
        if (sql.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(file.write(bytes), bytes.size());
        } else {
            BisectStore(path).start(dir.filePath(u"game"_s), makeGroups(3));
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"other version"_s);
                db.setDatabaseName(path);
                QVERIFY(db.open());
                for (const QString& statement : QString::fromLatin1(sql).split(u"; "_s))
                    QVERIFY(QSqlQuery(db).exec(statement));
                db.close();
            }
            QSqlDatabase::removeDatabase(u"other version"_s);
        }
        spoilt.append(contents(path));

        const auto error = errorOf([&] {
            BisectStore store(path);
            const QString said = store.setAsideMessage();
            QVERIFY2(said.contains(path) && said.contains(message), qPrintable(said));
            const QStringList kept = QDir(dir.path()).entryList({ u"bisect.sqlite.damaged-*"_s });
            QCOMPARE(kept.size(), time + 1);
            QCOMPARE(std::count_if(kept.begin(), kept.end(),
                         [&](const QString& name) { return said.contains(dir.filePath(name) + u","_s); }),
                1);
            QVERIFY(!store.load(dir.path()));
            QCOMPARE(store.start(dir.path(), makeGroups(2)).groups().size(), 2);
        });
        QVERIFY2(!error, error ? qPrintable(error->message()) : "");
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(BisectStore(path).load(dir.path())->groups().size(), 2);
        QVERIFY(BisectStore(path).setAsideMessage().isEmpty());
        QVERIFY(QFile::remove(path));
    }
    QList<QByteArray> kept;
    for (const QString& name : QDir(dir.path()).entryList({ u"bisect.sqlite.damaged-*"_s }))
        kept.append(contents(dir.filePath(name)));
    std::sort(kept.begin(), kept.end());
    std::sort(spoilt.begin(), spoilt.end());
    QCOMPARE(kept, spoilt);
}

void tst_Bisect::damagedSession_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QString>("message");
    QTest::newRow("answer before its moves")
        << QByteArray("INSERT INTO bisect_events VALUES (1, 0, 'works', 0, '')") << u"not all been moved"_s;
    QTest::newRow("answer for another round")
        << QByteArray("INSERT INTO bisect_events VALUES (1, 0, 'moved', 0, ''), (1, 1, 'broken', 3, '')")
        << u"answer was for round 4"_s;
    QTest::newRow("unknown step") << QByteArray("INSERT INTO bisect_events VALUES (1, 0, 'maybe', 0, '')")
                                  << u"an unknown step \"maybe\""_s;
    QTest::newRow("group missing") << QByteArray("DELETE FROM bisect_groups WHERE session = 1 AND idx = 1")
                                   << u"a group is missing"_s;
    QTest::newRow("file of no group")
        << QByteArray("UPDATE bisect_files SET grp = 99 WHERE session = 1 AND grp = 2")
        << u"a file belongs to no group"_s;
    QTest::newRow("group without files")
        << QByteArray("DELETE FROM bisect_files WHERE session = 1 AND grp = 0")
        << u"\"Mod 0\" has no files"_s;
}

// A session that no program could have written is set aside with the reason: the whole file is
// kept as it was beside it, that session is dropped so its folder can start again, and the store's
// other folders go on working. Loading, answering and starting each find it so.
void tst_Bisect::damagedSession()
{
    QFETCH(QByteArray, sql);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"bisect.sqlite"_s);
    const QString game = dir.filePath(u"damaged"_s);
    const QString other = dir.filePath(u"other"_s);
    BisectStore(path).start(game, makeGroups(3));
    BisectStore(path).start(other, makeGroups(4));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"tamper"_s);
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec(QString::fromLatin1(sql)), qPrintable(query.lastError().text()));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(u"tamper"_s);
    const QByteArray before = contents(path);

    for (const QString& action : { u"load"_s, u"answer"_s, u"start"_s }) {
        QFile restore(path);
        QVERIFY(restore.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(restore.write(before), before.size());
        restore.close();

        BisectStore store(path);
        QVERIFY(store.setAsideMessage().isEmpty());
        if (action == u"load"_s) {
            QVERIFY(!store.load(game));
        } else if (action == u"answer"_s) {
            const auto error = errorOf([&] { store.answer(game, BisectAnswer::Works); });
            QVERIFY(error);
            QCOMPARE(error->kind(), BisectError::Damaged);
            QCOMPARE(error->message(), store.setAsideMessage());
            QVERIFY(!store.load(game));
        } else {
            QCOMPARE(store.start(game, makeGroups(2)).groups().size(), 2);
            QCOMPARE(store.load(game)->groups().size(), 2);
        }
        const QString said = store.setAsideMessage();
        QVERIFY2(said.contains(game) && said.contains(message), qPrintable(said));
        QStringList named;
        for (const QString& name : QDir(dir.path()).entryList({ u"bisect.sqlite.damaged-*"_s })) {
            if (said.contains(dir.filePath(name) + u","_s))
                named.append(dir.filePath(name));
        }
        QCOMPARE(named.size(), 1);
        QCOMPARE(contents(named.first()), before);
        QCOMPARE(store.load(other)->groups().size(), 4);
        QCOMPARE(store.movesDone(other, 0).step(), 0);
    }
}

void tst_Bisect::volumeFaults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("full volume") << u"full"_s << u"full"_s;
    QTest::newRow("read-only volume") << u"readonly"_s << u"readonly"_s;
    QTest::newRow("store folder cannot be made") << u"nofolder"_s << u"cannot be made"_s;
}

// A store on a volume that takes no more writes: the answer is refused with the system's reason,
// and once the volume is writable again the session is where it was.
void tst_Bisect::volumeFaults()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    if (fault == u"nofolder"_s) {
        const auto error = errorOf([] { BisectStore(u"/proc/self/mendwell/bisect.sqlite"_s); });
        QVERIFY(error);
        QCOMPARE(error->kind(), BisectError::Store);
        QVERIFY2(error->message().contains(message), qPrintable(error->message()));
        return;
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString volume = dir.filePath(u"volume"_s);
    QVERIFY(QDir().mkpath(volume));
    if (!run(u"mount"_s, { u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=256k"_s, u"tmpfs"_s, volume }))
        QSKIP("mounting a small tmpfs needs root");
    struct Unmount
    {
        QString volume;
        ~Unmount() { run(u"umount"_s, { u"-l"_s, volume }); }
    } unmount { volume };

    const QString path = volume + u"/bisect.sqlite"_s;
    const QString game = dir.path();
    BisectStore(path).start(game, makeGroups(40));
    const int step = BisectStore(path).load(game)->step();
    BisectStore(path).movesDone(game, step);
    const QString before = describe(*BisectStore(path).load(game));

    // The volume turns read-only only while no file on it is open for writing.
    const QString filler = volume + u"/filler"_s;
    if (fault == u"full"_s)
        run(u"dd"_s, { u"if=/dev/zero"_s, u"of="_s + filler, u"bs=4k"_s });
    else
        QVERIFY(run(u"mount"_s, { u"-o"_s, u"remount,ro"_s, volume }));
    BisectStore store(path);
    const auto error = errorOf([&] { store.answer(game, BisectAnswer::Works); });
    QVERIFY(error);
    QCOMPARE(error->kind(), BisectError::Store);
    QVERIFY2(error->message().contains(path), qPrintable(error->message()));
    QVERIFY2(error->message().contains(message), qPrintable(error->message()));
    QCOMPARE(describe(*store.load(game)), before);

    if (fault == u"full"_s)
        QVERIFY(QFile::remove(filler));
    else
        QVERIFY(run(u"mount"_s, { u"-o"_s, u"remount,rw"_s, volume }));
    QCOMPARE(describe(*BisectStore(path).load(game)), before);
    QCOMPARE(BisectStore(path).answer(game, BisectAnswer::Works).round(), 1);
}

void tst_Bisect::killedAtAnyMoment_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("culprit");
    QTest::newRow("culprit among 5") << 5 << 3;
    QTest::newRow("old file, 40 groups") << 40 << -1;
    QTest::newRow("culprit among 200") << 200 << 117;
}

// A program killed with SIGKILL in the middle of any step leaves a store that opens, and a session
// that is exactly the uninterrupted one cut after some whole step.
void tst_Bisect::killedAtAnyMoment()
{
    QFETCH(int, count);
    QFETCH(int, culprit);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"bisect.sqlite"_s);
    const QString game = dir.path();

    QList<BisectGroup> groups;
    for (int i = 0; i < count; ++i)
        groups.append({ u"Mod %1"_s.arg(i), { "Mods/mod " + QByteArray::number(i) + ".package" } });
    BisectSession whole = BisectSession::start(groups);
    for (;;) {
        whole.movesDone(whole.step());
        if (!whole.running())
            break;
        whole.answer(whole.out().contains(culprit) ? BisectAnswer::Works : BisectAnswer::Broken);
    }

    QRandomGenerator generator { quint32(count) };
    QSet<qsizetype> cutsSeen;
    int kills = 0;
    for (; kills < 40; ++kills) {
        QProcess player;
        player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        player.start(
            QStringLiteral(BISECT_PLAYER), { path, game, QString::number(count), QString::number(culprit) });
        QVERIFY(player.waitForStarted());
        // Now and then while the store is still being opened or made, mostly in the midst of a step
        // after a chosen number of whole ones.
        if (kills % 8 != 0) {
            const int steps = 1 + int(generator.bounded(12));
            for (int lines = 0; lines < steps;) {
                if (!player.canReadLine())
                    QVERIFY(player.waitForReadyRead());
                while (lines < steps && player.canReadLine()) {
                    player.readLine();
                    ++lines;
                }
            }
        }
        QThread::usleep(generator.bounded(kills % 8 != 0 ? 3000 : 150000));
        QCOMPARE(player.state(), QProcess::Running);
        player.kill();
        QVERIFY(player.waitForFinished());
        QCOMPARE(player.exitStatus(), QProcess::CrashExit);

        std::optional<BisectSession> left;
        QString setAside;
        const auto error = errorOf([&] {
            BisectStore store(path);
            left = store.load(game);
            setAside = store.setAsideMessage();
        });
        QVERIFY2(!error, error ? qPrintable(error->message()) : "");
        // A kill is no damage: nothing was set aside.
        QVERIFY2(setAside.isEmpty(), qPrintable(setAside));
        if (!left)
            continue; // killed before its first session was written
        const QList<mending::BisectEvent> events = left->events();
        QVERIFY(events.size() <= whole.events().size());
        QVERIFY2(events == whole.events().mid(0, events.size()), qPrintable(describe(*left)));
        cutsSeen.insert(events.size());
    }
    qInfo("%d kills left the session cut at %lld different places", kills, qlonglong(cutsSeen.size()));
    QVERIFY(cutsSeen.size() > 1);
}

void tst_Bisect::twoAnswersAtOnce_data()
{
    QTest::addColumn<bool>("withRound");
    QTest::newRow("round named") << true;
    QTest::newRow("no round named") << false;
}

// "Works" and "still broken" from two programs at the same moment: exactly one is taken, the other
// is refused as out of turn with a sentence, and the store holds the one answer.
void tst_Bisect::twoAnswersAtOnce()
{
    QFETCH(bool, withRound);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"bisect.sqlite"_s);
    const QString game = dir.path();
    BisectStore(path).start(game, makeGroups(64));
    // Past round 0, where "still broken" would end the 50/50.
    BisectStore(path).movesDone(game, 0);
    BisectStore(path).answer(game, BisectAnswer::Works);
    for (int race = 0; race < 3; ++race) {
        const BisectSession before = *BisectStore(path).load(game);
        BisectStore(path).movesDone(game, before.step());
        const QString round = QString::number(withRound ? before.round() : -1);
        QProcess players[2];
        for (int i = 0; i < 2; ++i) {
            players[i].start(QStringLiteral(BISECT_PLAYER),
                { path, game, u"answer"_s, i == 0 ? u"works"_s : u"broken"_s, round });
            QVERIFY(players[i].waitForStarted());
        }
        for (QProcess& player : players) {
            while (!player.canReadLine())
                QVERIFY(player.waitForReadyRead());
            QCOMPARE(player.readLine(), QByteArray("ready\n"));
        }
        // Both are let go while the test holds the write lock, so both wait on it and then press on
        // the moment it is free.
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"holder"_s);
            holder.setDatabaseName(path);
            QVERIFY(holder.open());
            QVERIFY(QSqlQuery(holder).exec(u"BEGIN IMMEDIATE"_s));
            for (QProcess& player : players)
                player.write("go\n");
            for (QProcess& player : players)
                QVERIFY(player.waitForBytesWritten());
            QThread::msleep(200);
            QVERIFY(QSqlQuery(holder).exec(u"COMMIT"_s));
            holder.close();
        }
        QSqlDatabase::removeDatabase(u"holder"_s);
        int taken = 0;
        for (QProcess& player : players) {
            QVERIFY(player.waitForFinished());
            QCOMPARE(player.exitStatus(), QProcess::NormalExit);
            if (player.exitCode() == 0) {
                ++taken;
                continue;
            }
            QCOMPARE(player.exitCode(), 3);
            const QByteArray said = player.readAllStandardError();
            QVERIFY2(said.contains(withRound ? "but the 50/50 is at round" : "have not all been moved"),
                said.constData());
        }
        QCOMPARE(taken, 1);
        const BisectSession after = *BisectStore(path).load(game);
        QCOMPARE(after.events().size(), before.events().size() + 2); // the moves, one answer
        QCOMPARE(after.round(), before.round() + 1);
        if (!after.running())
            break;
    }
}

// Two programs opening one damaged store at the same moment: it is set aside once, and neither sets
// aside the fresh store the other just made.
void tst_Bisect::twoProgramsFindItDamaged()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"bisect.sqlite"_s);
    for (int race = 0; race < 10; ++race) {
        const QByteArray garbage = "not a store, race " + QByteArray::number(race) + QByteArray(5000, 'x');
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(file.write(garbage), garbage.size());
        }
        QProcess players[2];
        for (QProcess& player : players)
            player.start(QStringLiteral(BISECT_PLAYER), { path, dir.path(), u"answer"_s, u"works"_s, u"-1"_s });
        for (QProcess& player : players) {
            QVERIFY(player.waitForStarted());
            while (!player.canReadLine())
                QVERIFY2(player.waitForReadyRead(), player.readAllStandardError().constData());
            QCOMPARE(player.readLine(), QByteArray("ready\n"));
            player.write("go\n");
            QVERIFY(player.waitForFinished());
            QCOMPARE(player.exitCode(), 3); // no 50/50 in the fresh store
        }
        const QStringList kept = QDir(dir.path()).entryList({ u"bisect.sqlite.damaged-*"_s });
        QCOMPARE(kept.size(), race + 1);
        int found = 0;
        for (const QString& name : kept)
            found += contents(dir.filePath(name)) == garbage;
        QCOMPARE(found, 1);
        BisectStore store(path);
        QVERIFY(store.setAsideMessage().isEmpty());
        QVERIFY(!store.load(dir.path()));
    }
}

// A page spoilt where opening does not look shows only when a session is read: the file is then set
// aside as it was, and loading, answering and starting each go on with a fresh store.
void tst_Bisect::spoiltPage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"bisect.sqlite"_s);
    BisectStore(path).start(dir.path(), makeGroups(300));
    QByteArray before = contents(path);
    QVERIFY(before.size() > 8 * 4096);
    before.replace(before.size() - 4096, 4096, QByteArray(4096, '\xff'));

    for (const QString& action : { u"load"_s, u"answer"_s, u"start"_s }) {
        QFile spoil(path);
        QVERIFY(spoil.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(spoil.write(before), before.size());
        spoil.close();

        BisectStore store(path);
        QVERIFY2(store.setAsideMessage().isEmpty(), qPrintable(store.setAsideMessage()));
        if (action == u"load"_s) {
            QVERIFY(!store.load(dir.path()));
        } else if (action == u"answer"_s) {
            const auto error = errorOf([&] { store.answer(dir.path(), BisectAnswer::Works); });
            QVERIFY(error);
            QCOMPARE(error->kind(), BisectError::Damaged);
            QCOMPARE(error->message(), store.setAsideMessage());
        } else {
            QCOMPARE(store.start(dir.path(), makeGroups(2)).groups().size(), 2);
        }
        const QString said = store.setAsideMessage();
        QVERIFY2(said.contains(u"malformed"_s), qPrintable(said));
        QStringList named;
        for (const QString& name : QDir(dir.path()).entryList({ u"bisect.sqlite.damaged-*"_s })) {
            if (said.contains(dir.filePath(name) + u","_s))
                named.append(dir.filePath(name));
        }
        QCOMPARE(named.size(), 1);
        QCOMPARE(contents(named.first()), before);
        QCOMPARE(bool(store.load(dir.path())), action == u"start"_s);
    }
}

QTEST_GUILESS_MAIN(tst_Bisect)
#include "tst_bisect.moc"
