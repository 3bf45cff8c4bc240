// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <exception>
#include <optional>
#include <vector>

// The guided 50/50 over the new groups of a game folder: which groups must be out of the folder in
// each round, from the player's answers, until one group is left. It moves no file itself.
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

// Rounds count from 0, where every group is out. Each change of the folder's layout is a step; while
// the session runs, the step is the round, and the layout of the end is one step more. The player
// may answer only once the moves of the current step are recorded done.
class BisectSession
{
public:
    enum class State {
        Running,
        CulpritFound, // the culprit stays out, every other group comes back
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
    // Answers still needed at most, the current round's included; 0 once ended.
    int roundsLeftAtMost() const;
    // The round count this session can reach at most, as known now (at the start 1 + ceil(log2 G)).
    int mostRounds() const;

    // The groups out of the folder once this step's moves are done, in group order.
    QList<int> out() const;
    // The groups the culprit may still be among.
    QList<int> suspects() const;
    int culprit() const { return m_state == State::CulpritFound ? m_lo : -1; }
    // What the caller must do to reach this step's layout. After moves that were cut short, a group
    // to bring back may already be partly or wholly in the folder, and one to move out partly out.
    BisectMoves moves() const;

    // One or two sentences for the player: what to do now, or the verdict. Rounds there count from 1,
    // as players count them.
    QString summary() const;

private:
    explicit BisectSession(QList<BisectGroup> groups);
    bool isOut(int group) const;
    int splitPoint() const;
    void enterLayout();

    QList<BisectGroup> m_groups;
    QList<BisectEvent> m_events;
    State m_state = State::Running;
    int m_round = 0;
    int m_step = 0;
    int m_lo = 0; // suspects are the groups [m_lo, m_hi)
    int m_hi = 0;
    bool m_movesPending = true;
    std::vector<char> m_settledOut; // out in the last layout whose moves were done
    std::vector<char> m_maybeOut; // possibly out, some files at least, since then
};

// The sessions of every game folder, one per folder, in an SQLite file. Each call is one
// transaction: what it returns is what is on disk, and two programs over one file take turns.
// Use an object from the thread that made it only.
class BisectStore
{
public:
    // Opens or makes the file (and its folder). Throws BisectError: Store when it cannot be opened,
    // Damaged when it is no store of ours, UnknownVersion when another version wrote it.
    explicit BisectStore(const QString& filePath);
    ~BisectStore();
    BisectStore(const BisectStore&) = delete;
    BisectStore& operator=(const BisectStore&) = delete;

    // <XDG_DATA_HOME>/mendwell/bisect.sqlite
    static QString defaultPath();
    // The same session is found whichever way the folder is named (trailing separator, a link).
    static QString folderKey(const QString& folder);

    const QString& filePath() const { return m_filePath; }

    // Empty when no session was ever started for the folder. An ended session stays until the
    // next start replaces it, so its verdict can still be shown.
    std::optional<BisectSession> load(const QString& folder);
    // Refused while a session for the folder runs or the moves of its end are pending.
    BisectSession start(const QString& folder, QList<BisectGroup> groups);
    BisectSession answer(const QString& folder, BisectAnswer answer, int forRound = -1);
    BisectSession stop(const QString& folder);
    BisectSession movesDone(const QString& folder, int step);

private:
    template <typename Change> BisectSession change(const QString& folder, Change change);
    void openAndCheck();

    QString m_filePath;
    QString m_connection;
};

}
