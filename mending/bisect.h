// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <exception>
#include <optional>
#include <vector>

// The guided 50/50 over the new groups of a game folder: which groups must be out of the folder in
// each round, from the player's answers, until every group that breaks the game is named. It moves
// no file itself.
//
// The model: the game is broken exactly when some bad group is in the folder, and it was broken with
// every group in when the 50/50 began. A group is cleared (shown innocent) only by a "works" answer
// given while it was in the folder; cleared groups stay in from then on, and groups not yet cleared
// stay out unless they are being tested. The suspects are groups of which at least one is bad: a
// round tests the first half of them. "Works" clears that half, "broken" narrows the suspects to it.
// When one suspect is left while other groups are still uncleared, a confirming round puts it out
// and every other group in: "works" ends the 50/50 with it named; "still broken" names it as one
// culprit, keeps it out, and the search goes on among the uncleared groups that were in. So k bad
// groups among G take at most 1 + k(1 + ceil(log2 G)) answers, and one bad group 2 + ceil(log2 G).
// Since every layout holds a group never cleared and leaves out one of each broken layout's
// suspects, no answer can be forced; an answer that still contradicts an earlier one (more groups
// in than a broken round yet working, or only cleared groups in yet broken) is named and not used,
// and the player is asked about the same layout once more.
//
// How a caller drives it: BisectStore::start() (or answer(), stop()) returns the session; the caller
// moves the groups of moves() out and back through the quarantine, then records movesDone(step()),
// and only then may the player answer. After a crash, load() tells which moves are still to finish.
namespace mending {

// One unit the 50/50 never splits (a mod's package and script, a subfolder added whole).
struct BisectGroup
{
    QString key;
    QList<QByteArray> paths; // relative to the game folder, as the file system's bytes
};

enum class BisectAnswer { Works, Broken };

// Indexes into BisectSession::groups().
struct BisectMoves
{
    QList<int> moveOut;
    QList<int> bringBack;
};

class BisectError : public std::exception
{
public:
    enum Kind {
        BadGroups, // start() was given groups it cannot test
        OutOfTurn, // an answer, stop or report that the session does not await now
        Store, // the store file cannot be opened, read or written
        UnknownVersion, // the store was written by another version
        Damaged, // the store holds something no session could have written
    };

    BisectError(Kind kind, QString message);
    Kind kind() const noexcept { return m_kind; }
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    QString m_message;
    QByteArray m_what;
};

// What the session was told, in order: enough to rebuild it exactly.
struct BisectEvent
{
    enum Kind { Works, Broken, Stop, MovesDone };
    Kind kind;
    int number; // the round answered or stopped, or the step whose moves were done
    friend bool operator==(const BisectEvent&, const BisectEvent&) = default;
};

// Rounds count from 0, where every group is out. Each layout the player is asked about, or the end's
// layout, is a step: while the session runs, the step is the round, and the layout of the end is
// one step more. The player may answer only once the moves of the current step are recorded done, so
// a second answer given at the same moment as the first finds the moves of the next round pending
// and is refused. An answer that contradicts an earlier one takes a round and a step of its own whose
// layout is the same (nothing to move), so it too needs movesDone() before the next answer.
class BisectSession
{
public:
    enum class State {
        Running,
        CulpritFound, // every culprit stays out, every other group comes back
        NotAmongNew, // broken with every new group out: everything comes back
        Stopped, // everything comes back
    };

    // Throws BisectError::BadGroups for no groups, a group without files, a key used twice, a path in
    // two groups, or a path that is absolute or climbs out of the folder.
    static BisectSession start(QList<BisectGroup> groups);
    // Throws BisectError::Damaged when the events are not ones this session could have taken.
    static BisectSession replay(QList<BisectGroup> groups, const QList<BisectEvent>& events);

    // Each throws BisectError::OutOfTurn when the session does not await it now. forRound, when not
    // -1, must be the round being played: a late click for an older round is then refused.
    void answer(BisectAnswer answer, int forRound = -1);
    void stop();
    // Recording the same step twice is harmless, so a caller may redo after a crash.
    void movesDone(int step);

    const QList<BisectGroup>& groups() const { return m_groups; }
    const QList<BisectEvent>& events() const { return m_events; }
    State state() const { return m_state; }
    bool running() const { return m_state == State::Running; }
    // The round being played, or once ended the last round the player was asked about.
    int round() const { return m_round; }
    int step() const { return m_step; }
    bool movesPending() const { return m_movesPending; }
    // Answers still needed at most to name the culprit being searched for, the current round's
    // included; 0 once ended. Another culprit found by a confirming round raises it.
    int roundsLeftAtMost() const;
    // The round count this session can reach at most, as known now (at the start 2 + ceil(log2 G)
    // for G > 1 groups).
    int mostRounds() const;

    // The groups out of the folder once this step's moves are done, in group order.
    QList<int> out() const;
    // While running, the groups of which at least one is bad; once a culprit is found, the culprits.
    QList<int> suspects() const;
    // The culprits named so far, in the order found: once ended all of them, while running those
    // confirmed so far (they stay out).
    QList<int> culprits() const { return m_culprits; }
    // The last culprit named, or -1 while none is.
    int culprit() const { return m_culprits.isEmpty() ? -1 : m_culprits.last(); }
    // The groups shown innocent, in group order.
    QList<int> cleared() const;
    // Whether the last answer contradicted an earlier round and was not used; contradiction() says
    // which round and asks to check the same layout once more (summary() includes it meanwhile).
    bool contradicted() const { return running() && m_contradicts >= 0; }
    QString contradiction() const;
    // What the caller must do to reach this step's layout. After moves that were cut short, a group
    // to bring back may already be partly or wholly in the folder, and one to move out partly out.
    BisectMoves moves() const;

    // A few sentences for the player: what to do now, or the verdict naming every culprit. Rounds
    // there count from 1, as players count them.
    QString summary() const;

private:
    enum class Phase { AllOut, Halving, Confirming };

    explicit BisectSession(QList<BisectGroup> groups);
    std::vector<char> layoutOut() const;
    bool isCleared(int group) const { return m_clearedIn[group] >= 0; }
    QList<int> uncleared(int except) const;
    int contradictedRound(BisectAnswer answer, const std::vector<char>& out) const;
    void take(BisectAnswer answer, const std::vector<char>& out);
    void nextHunt();
    void enterLayout();
    QString culpritList() const;
    QString roundText() const;

    QList<BisectGroup> m_groups;
    QList<BisectEvent> m_events;
    State m_state = State::Running;
    Phase m_phase = Phase::AllOut;
    int m_round = 0;
    int m_step = 0;
    bool m_movesPending = true;
    QList<int> m_suspects; // in group order; while confirming, the one suspect left
    QList<int> m_culprits;
    std::vector<int> m_clearedIn; // the round whose "works" cleared the group, or -1
    std::vector<std::vector<char>> m_brokenIn; // which groups were in at each "broken" answer taken
    std::vector<int> m_brokenRound;
    int m_contradicts = -1; // the earlier round the last answer contradicted, or -1
    bool m_contradictingWorks = false;
    std::vector<char> m_settledOut; // out in the last layout whose moves were done
    std::vector<char> m_maybeOut; // possibly out, some files at least, since then
};

// The sessions of every game folder, one per folder, in an SQLite file. Each call is one
// transaction, and a change holds the write lock from its read to its write: what it returns is
// what is on disk, and two programs over one file take turns, the second seeing the first's change.
// A damaged store is never a dead end: a file that is no store of this version is renamed aside
// (kept as it was, beside it, under a name no other file has) and a fresh store is made; a session
// no program could have written is dropped after the whole file is copied aside the same way.
// setAsideMessage() then names the kept file. Use an object from the thread that made it only.
class BisectStore
{
public:
    // Opens or makes the file (and its folder). Throws BisectError::Store when it cannot be opened or
    // written; a file that is no store of ours or of another version is set aside instead.
    explicit BisectStore(const QString& filePath);
    ~BisectStore();
    BisectStore(const BisectStore&) = delete;
    BisectStore& operator=(const BisectStore&) = delete;

    // <XDG_DATA_HOME>/mendwell/bisect.sqlite
    static QString defaultPath();
    // The same session is found whichever way the folder is named (trailing separator, a link).
    static QString folderKey(const QString& folder);

    const QString& filePath() const { return m_filePath; }
    // The sentence naming the file kept aside the last time this object set a damaged store or
    // session aside, with the reason; empty when it never did.
    QString setAsideMessage() const { return m_setAsideMessage; }

    // Empty when no session was ever started for the folder, or its damaged session was set aside.
    // An ended session stays until the next start replaces it, so its verdict can still be shown.
    std::optional<BisectSession> load(const QString& folder);
    // Refused while a session for the folder runs or the moves of its end are pending.
    BisectSession start(const QString& folder, QList<BisectGroup> groups);
    // A damaged session, or a file found damaged only now, is set aside and the call refused with
    // BisectError::Damaged. Without forRound a second answer is refused only while the moves the
    // first one asked for are pending: a caller that finishes pending moves before answering must
    // pass the round it read before it did, or the second answer counts for the next round.
    BisectSession answer(const QString& folder, BisectAnswer answer, int forRound = -1);
    BisectSession stop(const QString& folder);
    BisectSession movesDone(const QString& folder, int step);

private:
    template <typename Change> BisectSession change(const QString& folder, Change change);
    template <typename Change> BisectSession changeOnce(const QString& folder, Change change);
    std::optional<BisectSession> loadOnce(const QString& folder);
    BisectSession startOnce(const QString& folder, QList<BisectGroup> groups);
    void openAndCheck();
    bool setAsideFile(const QString& reason);

    QString m_filePath;
    QString m_connection;
    QString m_setAsideMessage;
};

}
