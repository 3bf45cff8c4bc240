// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bisect.h"
#include "quarantine.h"
#include "scan.h"
#include "snapshot.h"

#include <functional>
#include <optional>

// What the command line and the window share when they mend a folder: which files are new since a
// snapshot, in the groups the 50/50 tests, and the 50/50 carried out on top of the quarantine.
namespace mending {

enum class NewKinds { Added, Changed, All };

struct NewFiles
{
    QList<QByteArray> paths; // relative to the folder, ascending by bytes
    QList<BisectGroup> groups; // the same files, by mod
    QList<ScanProblem> problems; // folders that could not be read now: files below them are not known
};

// The files added (and changed, unless kinds says otherwise) in folder since the snapshot, read as
// the folder is now. A snapshot of another folder can be compared too: paths are relative. Throws
// Failure when the folder cannot be read at all.
NewFiles newFilesSince(const Snapshot& before, const QByteArray& folder, NewKinds kinds = NewKinds::All,
    ScanWatch* watch = nullptr);

// The same against a folder list saved by Brenvale (top-level names only: files added to the top of
// the folder).
NewFiles newFilesSinceList(
    const QList<QByteArray>& listed, const QByteArray& folder, ScanWatch* watch = nullptr);

// Narrows to the files at or below the given paths (relative to the folder); paths that match none
// are appended to unmatched.
NewFiles onlyBelow(const NewFiles& files, const QList<QByteArray>& paths, QList<QByteArray>* unmatched);

// The game generation a folder belongs to, from the game folders found on this computer or from its
// path (".../The Sims 4/Mods"); 0 when it cannot be told.
int generationOf(const QByteArray& folder);

// The game's cache files lying beside the folder that are better moved out with a batch (the game
// rebuilds them), as paths relative to the folder's parent.
QList<QByteArray> cacheFilesBeside(const QByteArray& folder);

// The time since the computer started, sleep included (CLOCK_BOOTTIME), in nanoseconds: the clock
// processes' start times are given in.
qint64 bootClockNs();

// The sessions' store and the quarantine of one folder, driven together: each answer is recorded,
// then the files move, then the moves are recorded done. A move that cannot happen now (the game is
// running) stays pending and is carried out by the next call to recover().
//
// The window and the command line may work on one folder at the same time. Every call that acts takes
// the folder's lock for its whole length, reads the session and the quarantine anew under it and acts
// on what it finds there, never on what an earlier look showed.
class FiftyFifty
{
public:
    explicit FiftyFifty(const QByteArray& folder, const QString& storePath = BisectStore::defaultPath());

    Quarantine& quarantine() { return m_quarantine; }
    BisectStore& store() { return m_store; }
    // The folder as shown to the player; folderPath() is its bytes.
    const QString& folder() const { return m_folder; }
    const QByteArray& folderPath() const { return m_folderPath; }

    // The file whose lock every action on the folder holds: beside the store, one per folder, so that
    // it never meets the quarantine's own lock.
    static QString lockPath(const QByteArray& folder, const QString& storePath = BisectStore::defaultPath());
    // Called once when an action has to wait for the lock (another Mendwell is acting on the folder).
    void setWaitNotice(std::function<void()> notice) { m_waitNotice = std::move(notice); }

    // Finishes what a crash cut short: the quarantine's interrupted step, then the session's moves.
    MoveReport recover();

    std::optional<BisectSession> session() { return m_store.load(m_folder); }
    bool running() { return isRunning(session()); }
    static bool isRunning(const std::optional<BisectSession>& session)
    {
        return session && (session->running() || session->movesPending());
    }

    // Each records the step, then moves the files, then records the moves done; report says what
    // moved, what stayed (and why), and report->error why the moves could not be made (they are
    // then still pending). A file that could not move stops the step: what the step had moved goes
    // back, the round does not begin, and report names the file and the reason. Each throws
    // BisectError when the session does not await it or the store fails, and Failure, with nothing
    // recorded, while the game runs or when the folder is not laid out as the round says (files put
    // back by hand or by another program while the 50/50 runs).
    BisectSession start(QList<BisectGroup> groups, MoveReport* report);
    // givenAtBootNs, when not -1, is when the player gave the answer (CLOCK_BOOTTIME): an answer taken
    // since then from elsewhere was about the same layout, and this one is refused.
    BisectSession answer(BisectAnswer answer, int forRound, MoveReport* report, qint64 givenAtBootNs = -1);
    BisectSession stop(MoveReport* report);

    // The quarantine's own moves, refused (report->error) while a 50/50 runs on the folder or the
    // moves of its end are still to be made: they would change the layout its answers depend on.
    MoveReport moveOut(const QList<QByteArray>& paths, const QList<QByteArray>& besidePaths = {});
    MoveReport restore(const QString& batch = {}, const QList<QByteArray>& paths = {});

    // The files of the session that are out of the folder now, in group order.
    QList<QByteArray> filesOut(const BisectSession& session) const;
    // Why the folder is not laid out as the session's round needs (files of groups that should be out
    // lie in the folder, or files that should be in are missing), or nothing.
    QString layoutTrouble(const BisectSession& session) const;
    // The files made in the folder since the session started that belong to none of its groups (nor
    // are files mods write while the game runs): the 50/50 leaves them where they are.
    QList<QByteArray> madeDuring(const BisectSession& session) const;
    // Which of the given group's files lie in the quarantine now.
    QList<QByteArray> filesOutOf(const BisectSession& session, int group) const;

private:
    class Lock;
    MoveReport recoverLocked();
    void refuseWhileGameRuns();
    QString fiftyFiftyRunsMessage();
    BisectSession carryOut(BisectSession session, MoveReport* report);

    QByteArray m_folderPath;
    QString m_folder;
    QString m_storePath;
    Quarantine m_quarantine;
    BisectStore m_store;
    std::function<void()> m_waitNotice;
};

}
