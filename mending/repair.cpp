// SPDX-License-Identifier: GPL-3.0-or-later
#include "repair.h"

#include "diff.h"
#include "gamefolders.h"
#include "games.h"
#include "pathtext.h"
#include "suspects.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace mending {

namespace {

bool wanted(ChangeKind kind, NewKinds kinds)
{
    switch (kinds) {
    case NewKinds::Added:
        return kind == ChangeKind::Added;
    case NewKinds::Changed:
        return kind == ChangeKind::Changed;
    case NewKinds::All:
        return kind == ChangeKind::Added || kind == ChangeKind::Changed;
    }
    return false;
}

NewFiles chosenFiles(const DiffResult& diff, NewKinds kinds)
{
    NewFiles files;
    QSet<QString> keys;
    for (const Group& group : diff.groups) {
        BisectGroup chosen;
        for (const qsizetype index : group.changes) {
            const Change& change = diff.changes.at(index);
            if (wanted(change.kind, kinds))
                chosen.paths.append(change.path);
        }
        if (chosen.paths.isEmpty())
            continue;
        // Keys are shown to the player and must tell groups apart; bytes that are no UTF-8 could
        // make two keys read alike.
        chosen.key = displayPath(group.key);
        for (int n = 2; keys.contains(chosen.key); ++n)
            chosen.key = u"%1 (%2)"_s.arg(displayPath(group.key)).arg(n);
        keys.insert(chosen.key);
        files.paths += chosen.paths;
        files.groups.append(std::move(chosen));
    }
    std::sort(files.paths.begin(), files.paths.end());
    files.problems = diff.unknown;
    return files;
}

bool isFile(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool below(const QByteArray& path, const QByteArray& folder)
{
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == '/');
}

}

NewFiles newFilesSince(const Snapshot& before, const QByteArray& folder, NewKinds kinds, ScanWatch* watch)
{
    ScanResult now = scanFolder(canonicalFolder(folder), 0, watch);
    const DiffResult diff = diffFiles(before.files, now.files, before.problems + now.problems);
    NewFiles files = chosenFiles(diff, kinds);
    files.problems = now.problems;
    return files;
}

NewFiles newFilesSinceList(const QList<QByteArray>& listed, const QByteArray& folder, ScanWatch* watch)
{
    ScanResult now = scanFolder(canonicalFolder(folder), 0, watch);
    NewFiles files = chosenFiles(diffTopLevel(listed, now.files, canonicalFolder(folder)), NewKinds::Added);
    files.problems = now.problems;
    return files;
}

NewFiles onlyBelow(const NewFiles& files, const QList<QByteArray>& paths, QList<QByteArray>* unmatched)
{
    QList<QByteArray> folders;
    for (QByteArray path : paths) {
        while (path.endsWith('/') && path.size() > 1)
            path.chop(1);
        if (path.startsWith("./"))
            path = path.sliced(2);
        folders.append(path);
    }
    const auto chosen = [&folders](const QByteArray& path) {
        return std::any_of(folders.cbegin(), folders.cend(),
            [&path](const QByteArray& folder) { return below(path, folder); });
    };
    NewFiles narrowed;
    narrowed.problems = files.problems;
    for (const BisectGroup& group : files.groups) {
        BisectGroup kept { group.key, {} };
        for (const QByteArray& path : group.paths) {
            if (chosen(path))
                kept.paths.append(path);
        }
        if (!kept.paths.isEmpty()) {
            narrowed.paths += kept.paths;
            narrowed.groups.append(std::move(kept));
        }
    }
    std::sort(narrowed.paths.begin(), narrowed.paths.end());
    for (const QByteArray& folder : std::as_const(folders)) {
        if (std::none_of(narrowed.paths.cbegin(), narrowed.paths.cend(),
                [&folder](const QByteArray& path) { return below(path, folder); }))
            unmatched->append(folder);
    }
    return narrowed;
}

int generationOf(const QByteArray& folder)
{
    const QString path = QFile::decodeName(folder);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const GameFolder& game : findGameFolders()) {
        const QString known = QFileInfo(game.path).canonicalFilePath();
        if (!known.isEmpty() && (known == canonical || canonical.startsWith(known + u'/')))
            return game.generation;
    }
    // Folders of a game installed where the search does not look still carry its name.
    const QStringList parts = QDir::cleanPath(path).split(u'/');
    for (qsizetype i = parts.size() - 1; i >= 0; --i) {
        const QString part = parts.at(i).toLower();
        for (int generation = 4; generation >= 2; --generation) {
            if (part == u"the sims %1"_s.arg(generation) || part == u"the sims%1"_s.arg(generation)
                || part == u"sims %1"_s.arg(generation))
                return generation;
        }
        if (part == u"the sims"_s)
            return 1;
    }
    return 0;
}

QList<QByteArray> cacheFilesBeside(const QByteArray& folder)
{
    const QFileInfo info(QFile::decodeName(folder));
    const QString parent = info.absolutePath();
    GameFolder game;
    game.generation = generationOf(folder);
    game.path = info.absoluteFilePath();
    // A mods folder outside a folder named for its game ("Mods" alone) still tells the game.
    if (game.generation == 0)
        game.generation = generationOfModsFolderName(info.fileName());
    QList<QByteArray> files;
    for (const QString& cache : gameCacheFiles(game)) {
        const QFileInfo file(cache);
        // Only caches right beside the folder go along; those further away stay for the player.
        if (file.absolutePath() == parent && isFile(QFile::encodeName(cache)))
            files.append(QFile::encodeName(file.fileName()));
    }
    return files;
}

qint64 bootClockNs()
{
    struct timespec now;
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

class FiftyFifty::Lock
{
public:
    explicit Lock(FiftyFifty& fifty)
    {
        const QString path = lockPath(fifty.m_folderPath, fifty.m_storePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0)
            throw Failure(
                u"cannot open the lock %1: %2"_s.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            return;
        // Said once: an action may take the lock more than once.
        if (errno == EWOULDBLOCK && fifty.m_waitNotice)
            std::exchange(fifty.m_waitNotice, {})();
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                ::close(m_fd);
                throw Failure(
                    u"cannot lock %1: %2"_s.arg(path, QString::fromLocal8Bit(std::strerror(error))));
            }
        }
    }
    ~Lock() { ::close(m_fd); }

    // The lock file holds when the last answer was taken, so that an answer given before it can tell.
    qint64 lastAnswerNs() const
    {
        char text[32] = {};
        const ssize_t length = ::pread(m_fd, text, sizeof text - 1, 0);
        return length > 0 ? QByteArray(text, length).toLongLong() : -1;
    }
    void answerTaken() const
    {
        const QByteArray now = QByteArray::number(bootClockNs());
        if (::ftruncate(m_fd, 0) == 0 && ::pwrite(m_fd, now.constData(), size_t(now.size()), 0) < 0)
            return; // at worst a later answer given at the same moment is not recognised as such
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    int m_fd = -1;
};

FiftyFifty::FiftyFifty(const QByteArray& folder, const QString& storePath)
    : m_folderPath(canonicalFolder(folder))
    , m_folder(QFile::decodeName(m_folderPath))
    , m_storePath(storePath)
    , m_quarantine(m_folderPath, generationOf(folder))
    , m_store(storePath)
{ }

QString FiftyFifty::lockPath(const QByteArray& folder, const QString& storePath)
{
    const QByteArray key
        = QCryptographicHash::hash(canonicalFolder(folder), QCryptographicHash::Sha1).toHex();
    return QFileInfo(storePath).absolutePath() + u"/locks/"_s + QString::fromLatin1(key) + u".lock"_s;
}

MoveReport FiftyFifty::recover()
{
    const Lock lock(*this);
    return recoverLocked();
}

MoveReport FiftyFifty::recoverLocked()
{
    MoveReport report = m_quarantine.recover();
    if (!report.ok())
        return report;
    std::optional<BisectSession> pending = session();
    if (pending && pending->movesPending()) {
        MoveReport moves;
        carryOut(*pending, &moves);
        report.moved += moves.moved;
        report.skipped += moves.skipped;
        report.error = moves.error;
    }
    return report;
}

void FiftyFifty::refuseWhileGameRuns()
{
    if (const QString running = m_quarantine.gameRunningMessage(); !running.isEmpty())
        throw Failure(running);
}

QString FiftyFifty::fiftyFiftyRunsMessage()
{
    if (!running())
        return {};
    return u"A 50/50 is running on %1: its files must stay where its round put them. Answer it, or stop it "
           "(which puts everything back), first."_s.arg(displayPath(m_folderPath));
}

BisectSession FiftyFifty::start(QList<BisectGroup> groups, MoveReport* report)
{
    const Lock lock(*this);
    if (const MoveReport recovered = m_quarantine.recover(); !recovered.ok())
        throw Failure(recovered.error);
    refuseWhileGameRuns();
    // Mods rewrite their settings and logs while the game runs: those would move under the player's feet.
    for (BisectGroup& group : groups)
        group.paths.removeIf([](const QByteArray& path) { return isNoise(path); });
    groups.removeIf([](const BisectGroup& group) { return group.paths.isEmpty(); });
    BisectSession started = m_store.start(m_folder, std::move(groups));
    // When it began, so that files made in the folder since can be named.
    QFile since(lockPath(m_folderPath, m_storePath) + u".started"_s);
    if (since.open(QIODevice::WriteOnly | QIODevice::Truncate))
        since.write(QByteArray::number(QDateTime::currentMSecsSinceEpoch() * 1000000));
    return carryOut(std::move(started), report);
}

BisectSession FiftyFifty::answer(BisectAnswer given, int forRound, MoveReport* report, qint64 givenAtBootNs)
{
    const Lock lock(*this);
    if (givenAtBootNs >= 0 && lock.lastAnswerNs() > givenAtBootNs)
        throw Failure(u"Another answer was taken after this one was given, so this one was not: it was about "
                      "a layout that has changed since."_s);
    if (const MoveReport recovered = recoverLocked(); !recovered.ok())
        throw Failure(recovered.error);
    refuseWhileGameRuns();
    // The player tested the folder as it is: an answer about another layout would give a wrong verdict.
    if (const std::optional<BisectSession> now = session(); now && now->running()) {
        if (const QString trouble = layoutTrouble(*now); !trouble.isEmpty())
            throw Failure(trouble);
    }
    BisectSession answered = m_store.answer(m_folder, given, forRound);
    lock.answerTaken();
    return carryOut(std::move(answered), report);
}

BisectSession FiftyFifty::stop(MoveReport* report)
{
    const Lock lock(*this);
    // Moves of a round that could not begin need not be finished: stopping brings everything back.
    if (const MoveReport recovered = m_quarantine.recover(); !recovered.ok())
        throw Failure(recovered.error);
    refuseWhileGameRuns();
    return carryOut(m_store.stop(m_folder), report);
}

MoveReport FiftyFifty::moveOut(const QList<QByteArray>& paths, const QList<QByteArray>& besidePaths)
{
    const Lock lock(*this);
    MoveReport report;
    report.error = fiftyFiftyRunsMessage();
    return report.ok() ? m_quarantine.moveOut(paths, besidePaths) : report;
}

MoveReport FiftyFifty::restore(const QString& batch, const QList<QByteArray>& paths)
{
    const Lock lock(*this);
    MoveReport report;
    report.error = fiftyFiftyRunsMessage();
    return report.ok() ? m_quarantine.restore(batch, paths) : report;
}

QList<QByteArray> FiftyFifty::filesOut(const BisectSession& session) const
{
    QList<QByteArray> files;
    for (const int group : session.out()) {
        for (const QByteArray& path : session.groups().at(group).paths) {
            if (!isFile(m_folderPath + '/' + path))
                files.append(path);
        }
    }
    return files;
}

QList<QByteArray> FiftyFifty::filesOutOf(const BisectSession& session, int group) const
{
    const QSet<QByteArray> wanted(
        session.groups().at(group).paths.cbegin(), session.groups().at(group).paths.cend());
    QList<QByteArray> files;
    for (const QuarantineBatch& batch : m_quarantine.batches()) {
        for (const QuarantinedFile& file : batch.files) {
            if (file.out && !file.beside && wanted.contains(file.path) && !files.contains(file.path))
                files.append(file.path);
        }
    }
    return files;
}

QList<QByteArray> FiftyFifty::madeDuring(const BisectSession& session) const
{
    QFile since(lockPath(m_folderPath, m_storePath) + u".started"_s);
    if (!session.running() || !since.open(QIODevice::ReadOnly))
        return {};
    bool ok = false;
    const qint64 startedNs = since.readAll().toLongLong(&ok);
    if (!ok)
        return {};
    QSet<QByteArray> tested;
    for (const BisectGroup& group : session.groups())
        tested.unite(QSet<QByteArray>(group.paths.cbegin(), group.paths.cend()));
    QList<QByteArray> made;
    for (const FileEntry& file : scanFolder(m_folderPath, 1).files) {
        if (file.mtimeNs > startedNs && !tested.contains(file.path) && !isNoise(file.path))
            made.append(file.path);
    }
    std::sort(made.begin(), made.end());
    return made;
}

QString FiftyFifty::layoutTrouble(const BisectSession& session) const
{
    if (!session.running() || session.movesPending())
        return {};
    const QList<int> out = session.out();
    QStringList inFolder, missing;
    for (qsizetype group = 0; group < session.groups().size(); ++group) {
        const bool shouldBeOut = out.contains(int(group));
        for (const QByteArray& path : session.groups().at(group).paths) {
            const bool there = isFile(m_folderPath + '/' + path);
            if (shouldBeOut && there)
                inFolder.append(displayPath(path));
            else if (!shouldBeOut && !there)
                missing.append(displayPath(path));
        }
    }
    if (inFolder.isEmpty() && missing.isEmpty())
        return {};
    const auto named = [](const QStringList& files) {
        return files.size() <= 3
            ? files.join(u", "_s)
            : u"%1 and %2 more"_s.arg(files.first(3).join(u", "_s)).arg(files.size() - 3);
    };
    QStringList what;
    if (!inFolder.isEmpty())
        what.append(u"%1 should be out of the folder but lie in it"_s.arg(named(inFolder)));
    if (!missing.isEmpty())
        what.append(u"%1 should be in the folder but are not"_s.arg(named(missing)));
    return u"The folder is not as round %1 of the 50/50 left it: %2 (moved by hand or by another program "
           "since). An answer now would give a wrong verdict: stop the 50/50, which puts everything back, "
           "and start it again."_s.arg(session.round() + 1)
               .arg(what.join(u"; "_s));
}

BisectSession FiftyFifty::carryOut(BisectSession session, MoveReport* report)
{
    if (!session.movesPending())
        return session;
    const BisectMoves moves = session.moves();
    // After moves cut short, some files of a group may be where they should be already.
    QList<QByteArray> goOut;
    for (const int group : moves.moveOut) {
        for (const QByteArray& path : session.groups().at(group).paths) {
            if (isFile(m_folderPath + '/' + path))
                goOut.append(path);
        }
    }
    QSet<QByteArray> out;
    for (const QuarantineBatch& batch : m_quarantine.batches()) {
        for (const QuarantinedFile& file : batch.files) {
            if (file.out && !file.beside)
                out.insert(file.path);
        }
    }
    QList<QByteArray> comeBack;
    for (const int group : moves.bringBack) {
        for (const QByteArray& path : session.groups().at(group).paths) {
            if (out.contains(path))
                comeBack.append(path);
        }
    }
    MoveReport done;
    QList<QByteArray> wentOut, cameBack;
    const auto take = [&done](const MoveReport& part, QList<QByteArray>* moved) {
        *moved = part.moved;
        done.moved += part.moved;
        done.skipped += part.skipped;
        done.cancelled = part.cancelled;
        done.error = part.error;
        return part.ok() && !part.cancelled && part.skipped.isEmpty();
    };
    const bool whole = (goOut.isEmpty() || take(m_quarantine.moveOut(goOut), &wentOut))
        && (comeBack.isEmpty() || take(m_quarantine.restore({}, comeBack), &cameBack));
    report->moved += done.moved;
    report->skipped += done.skipped;
    report->cancelled = done.cancelled;
    report->error = done.error;
    if (whole)
        return m_store.movesDone(m_folder, session.step());
    // Moves stopped on request stay pending, to be taken the rest of the way by recover().
    if (done.cancelled || done.skipped.isEmpty())
        return session;
    // A file that could not move would leave a layout the answers do not describe: the step's moves
    // are undone and stay pending, so that the round begins only once every file can move.
    QStringList undoTrouble;
    if (!wentOut.isEmpty()) {
        const MoveReport back = m_quarantine.restore({}, wentOut);
        for (const auto& [path, why] : back.skipped)
            undoTrouble.append(u"%1 (%2)"_s.arg(displayPath(path), why));
        if (!back.ok())
            undoTrouble.append(back.error);
    }
    if (!cameBack.isEmpty()) {
        const MoveReport again = m_quarantine.moveOut(cameBack);
        for (const auto& [path, why] : again.skipped)
            undoTrouble.append(u"%1 (%2)"_s.arg(displayPath(path), why));
        if (!again.ok())
            undoTrouble.append(again.error);
    }
    report->moved.clear();
    QStringList stayed;
    for (const auto& [path, why] : std::as_const(done.skipped))
        stayed.append(u"%1 (%2)"_s.arg(displayPath(path), why));
    const QString round = session.running()
        ? u"Round %1 of the 50/50 has not begun"_s.arg(session.round() + 1)
        : u"The 50/50's last moves were not made"_s;
    report->error
        = u"%1: %2 could not move. %3 Make the file movable (or take it out of the way) and run "
          "any command again, or stop the 50/50."_s.arg(round, stayed.join(u", "_s),
              undoTrouble.isEmpty() ? u"Every file this step had moved is back where it was."_s
                                    : u"Some of the files this step moved could not go back: %1."_s.arg(
                                        undoTrouble.join(u", "_s)));
    return session;
}

}
