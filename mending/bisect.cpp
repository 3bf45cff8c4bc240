// SPDX-License-Identifier: GPL-3.0-or-later
#include "bisect.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace mending {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("mending::Bisect", text);
}

// English needs no translation file to say "1 group" right.
QString groupCount(qsizetype n)
{
    return n == 1 ? tr("1 group") : tr("%1 groups").arg(n);
}

QString fileCount(qsizetype n)
{
    return n == 1 ? tr("1 file") : tr("%1 files").arg(n);
}

// Answers needed at most to narrow n suspects down to one.
int ceilLog2(int n)
{
    int rounds = 0;
    while ((1LL << rounds) < n)
        ++rounds;
    return rounds;
}

bool climbsOut(const QByteArray& path)
{
    if (path.isEmpty() || path.startsWith('/'))
        return true;
    for (qsizetype from = 0; from <= path.size();) {
        qsizetype end = path.indexOf('/', from);
        if (end < 0)
            end = path.size();
        if (end - from == 2 && path[from] == '.' && path[from + 1] == '.')
            return true;
        from = end + 1;
    }
    return false;
}

}

BisectError::BisectError(Kind kind, QString message)
    : m_kind(kind)
    , m_message(std::move(message))
    , m_what(m_message.toUtf8())
{ }

BisectSession::BisectSession(QList<BisectGroup> groups)
    : m_groups(std::move(groups))
    , m_clearedIn(m_groups.size(), -1)
    , m_settledOut(m_groups.size(), 0)
    , m_maybeOut(m_groups.size(), 1)
{ }

BisectSession BisectSession::start(QList<BisectGroup> groups)
{
    if (groups.isEmpty())
        throw BisectError(BisectError::BadGroups, tr("There are no new groups to test."));
    QSet<QString> keys;
    keys.reserve(groups.size());
    QSet<QByteArray> paths;
    for (const BisectGroup& group : groups) {
        if (keys.contains(group.key))
            throw BisectError(BisectError::BadGroups, tr("The group \"%1\" is named twice.").arg(group.key));
        keys.insert(group.key);
        if (group.paths.isEmpty())
            throw BisectError(BisectError::BadGroups, tr("The group \"%1\" has no files.").arg(group.key));
        for (const QByteArray& path : group.paths) {
            if (climbsOut(path)) {
                throw BisectError(BisectError::BadGroups,
                    tr("The file \"%1\" of the group \"%2\" is not inside the game folder.")
                        .arg(QString::fromUtf8(path), group.key));
            }
            const qsizetype known = paths.size();
            paths.insert(path);
            if (paths.size() == known) {
                throw BisectError(BisectError::BadGroups,
                    tr("The file \"%1\" belongs to two groups.").arg(QString::fromUtf8(path)));
            }
        }
    }
    return BisectSession(std::move(groups));
}

BisectSession BisectSession::replay(QList<BisectGroup> groups, const QList<BisectEvent>& events)
{
    try {
        BisectSession session = start(std::move(groups));
        for (const BisectEvent& event : events) {
            switch (event.kind) {
            case BisectEvent::Works:
            case BisectEvent::Broken:
                session.answer(event.kind == BisectEvent::Works ? BisectAnswer::Works : BisectAnswer::Broken,
                    event.number);
                break;
            case BisectEvent::Stop:
                if (event.number != session.round())
                    throw BisectError(BisectError::OutOfTurn, {});
                session.stop();
                break;
            case BisectEvent::MovesDone:
                if (event.number != session.step() || !session.movesPending())
                    throw BisectError(BisectError::OutOfTurn, {});
                session.movesDone(event.number);
                break;
            default:
                throw BisectError(BisectError::OutOfTurn, {});
            }
        }
        return session;
    } catch (const BisectError& error) {
        throw BisectError(BisectError::Damaged,
            tr("no session could have taken these steps (%1)")
                .arg(error.message().isEmpty() ? tr("steps out of order") : error.message()));
    }
}

void BisectSession::answer(BisectAnswer answer, int forRound)
{
    if (!running())
        throw BisectError(BisectError::OutOfTurn, tr("This 50/50 is over. %1").arg(summary()));
    if (forRound != -1 && forRound != m_round) {
        throw BisectError(BisectError::OutOfTurn,
            tr("That answer was for round %1, but the 50/50 is at round %2.")
                .arg(forRound + 1)
                .arg(m_round + 1));
    }
    if (m_movesPending) {
        throw BisectError(BisectError::OutOfTurn,
            tr("The files of round %1 have not all been moved yet: finish moving them, then start the game.")
                .arg(m_round + 1));
    }
    m_events.append({ answer == BisectAnswer::Works ? BisectEvent::Works : BisectEvent::Broken, m_round });
    const std::vector<char> out = layoutOut();
    const int earlier = contradictedRound(answer, out);
    if (earlier >= 0) {
        // Not used: the same layout is asked about again, in a round of its own.
        m_contradicts = earlier;
        m_contradictingWorks = answer == BisectAnswer::Works;
        ++m_round;
    } else {
        m_contradicts = -1;
        take(answer, out);
    }
    enterLayout();
}

// An answer contradicts the history when the model cannot hold both: "works" with every group of a
// broken layout in or cleared (culprits are out, so none explains that layout), or "broken" with
// only cleared groups in. Round 0 has nothing before it, and "broken" there ends the 50/50.
int BisectSession::contradictedRound(BisectAnswer answer, const std::vector<char>& out) const
{
    if (m_phase == Phase::AllOut)
        return -1;
    const int count = int(m_groups.size());
    if (answer == BisectAnswer::Works) {
        for (size_t i = 0; i < m_brokenIn.size(); ++i) {
            bool covered = true;
            for (int group = 0; group < count && covered; ++group)
                covered = !m_brokenIn[i][group] || !out[group] || isCleared(group);
            if (covered)
                return m_brokenRound[i];
        }
        return -1;
    }
    // Cleared groups stay in, so the layout of the latest round that cleared one of them held them all.
    int latest = -1;
    for (int group = 0; group < count; ++group) {
        if (out[group])
            continue;
        if (!isCleared(group))
            return -1;
        latest = std::max(latest, m_clearedIn[group]);
    }
    return latest;
}

void BisectSession::take(BisectAnswer answer, const std::vector<char>& out)
{
    const bool works = answer == BisectAnswer::Works;
    if (works) {
        for (int group = 0; group < m_groups.size(); ++group) {
            if (!out[group] && !isCleared(group))
                m_clearedIn[group] = m_round;
        }
    }
    switch (m_phase) {
    case Phase::AllOut:
        if (!works) {
            m_state = State::NotAmongNew;
            return;
        }
        for (int group = 0; group < m_groups.size(); ++group)
            m_suspects.append(group);
        break;
    case Phase::Halving: {
        const QList<int> half = m_suspects.mid(0, (m_suspects.size() + 1) / 2);
        m_suspects = works ? m_suspects.mid(half.size()) : half;
        break;
    }
    case Phase::Confirming:
        m_culprits.append(m_suspects.constFirst());
        if (works) {
            m_state = State::CulpritFound;
            return;
        }
        break;
    }
    if (!works) {
        m_brokenIn.emplace_back(out.size());
        for (size_t group = 0; group < out.size(); ++group)
            m_brokenIn.back()[group] = !out[group];
        m_brokenRound.push_back(m_round);
    }
    // Broken while confirming: another bad group is among the uncleared ones that were in.
    if (m_phase == Phase::Confirming)
        m_suspects = uncleared(-1);
    nextHunt();
}

// Narrows on while two or more suspects are left; one left is bad, and a confirming round is needed
// only while other groups are still uncleared.
void BisectSession::nextHunt()
{
    if (m_suspects.size() >= 2) {
        m_phase = Phase::Halving;
        ++m_round;
    } else if (!uncleared(m_suspects.constFirst()).isEmpty()) {
        m_phase = Phase::Confirming;
        ++m_round;
    } else {
        m_culprits.append(m_suspects.constFirst());
        m_state = State::CulpritFound;
    }
}

// Groups neither cleared nor named, but the one given.
QList<int> BisectSession::uncleared(int except) const
{
    QList<int> groups;
    for (int group = 0; group < m_groups.size(); ++group) {
        if (group != except && !isCleared(group) && !m_culprits.contains(group))
            groups.append(group);
    }
    return groups;
}

void BisectSession::stop()
{
    if (!running())
        throw BisectError(BisectError::OutOfTurn, tr("This 50/50 is over. %1").arg(summary()));
    m_events.append({ BisectEvent::Stop, m_round });
    m_state = State::Stopped;
    enterLayout();
}

void BisectSession::movesDone(int step)
{
    if (step != m_step) {
        throw BisectError(BisectError::OutOfTurn,
            tr("Moves were reported for step %1, but the 50/50 is at step %2.").arg(step).arg(m_step));
    }
    if (!m_movesPending)
        return;
    m_events.append({ BisectEvent::MovesDone, step });
    m_movesPending = false;
    m_settledOut = layoutOut();
    m_maybeOut = m_settledOut;
}

void BisectSession::enterLayout()
{
    ++m_step;
    m_movesPending = true;
    const std::vector<char> out = layoutOut();
    for (size_t group = 0; group < out.size(); ++group) {
        if (out[group])
            m_maybeOut[group] = true;
    }
}

std::vector<char> BisectSession::layoutOut() const
{
    std::vector<char> out(m_groups.size(), 0);
    switch (m_state) {
    case State::Running:
        if (m_phase == Phase::AllOut)
            return std::vector<char>(m_groups.size(), 1);
        // Uncleared groups stay out but the half under test; while confirming, the last suspect is out.
        for (int group = 0; group < m_groups.size(); ++group)
            out[group] = !isCleared(group) && m_phase == Phase::Halving;
        if (m_phase == Phase::Halving) {
            for (qsizetype i = 0; i < (m_suspects.size() + 1) / 2; ++i)
                out[m_suspects[i]] = 0;
        } else {
            out[m_suspects.constFirst()] = 1;
        }
        for (int group : m_culprits)
            out[group] = 1;
        return out;
    case State::CulpritFound:
        for (int group : m_culprits)
            out[group] = 1;
        return out;
    case State::NotAmongNew:
    case State::Stopped:
        return out;
    }
    return out;
}

int BisectSession::roundsLeftAtMost() const
{
    if (!running())
        return 0;
    if (m_phase == Phase::AllOut) {
        const int count = int(m_groups.size());
        return 1 + ceilLog2(count) + (count > 1 ? 1 : 0);
    }
    // The confirming round is skipped when no other group is left uncleared.
    return ceilLog2(int(m_suspects.size())) + (uncleared(-1).size() > 1 ? 1 : 0);
}

int BisectSession::mostRounds() const
{
    if (running())
        return m_round + roundsLeftAtMost();
    return m_state == State::Stopped ? m_round : m_round + 1;
}

QList<int> BisectSession::out() const
{
    const std::vector<char> layout = layoutOut();
    QList<int> groups;
    for (int group = 0; group < int(layout.size()); ++group) {
        if (layout[group])
            groups.append(group);
    }
    return groups;
}

QList<int> BisectSession::suspects() const
{
    if (m_state == State::CulpritFound)
        return m_culprits;
    return running() ? m_suspects : QList<int>();
}

QList<int> BisectSession::cleared() const
{
    QList<int> groups;
    for (int group = 0; group < m_groups.size(); ++group) {
        if (isCleared(group))
            groups.append(group);
    }
    return groups;
}

QString BisectSession::contradiction() const
{
    if (!contradicted())
        return {};
    const QString why = m_contradictingWorks
        ? tr("The answer for round %1 was \"works\", but in round %2 the game was broken with no more of "
             "these groups in than now.")
        : tr("The answer for round %1 was \"still broken\", but every group in the folder now was in it "
             "when the game worked in round %2.");
    // m_round is the repeat round; the contradicting answer was given for the one before.
    return tr("%1 That contradicts round %2, so it was not used: start the game once more with the same "
              "files and answer again.")
        .arg(why.arg(m_round).arg(m_contradicts + 1))
        .arg(m_contradicts + 1);
}

BisectMoves BisectSession::moves() const
{
    BisectMoves moves;
    if (!m_movesPending)
        return moves;
    const std::vector<char> layout = layoutOut();
    for (int group = 0; group < m_groups.size(); ++group) {
        const bool out = layout[group];
        if (out && !m_settledOut[group])
            moves.moveOut.append(group);
        else if (!out && m_maybeOut[group])
            moves.bringBack.append(group);
    }
    return moves;
}

QString BisectSession::summary() const
{
    switch (m_state) {
    case State::Running: {
        QStringList text;
        if (contradicted())
            text << contradiction();
        if (!m_culprits.isEmpty())
            text << (m_culprits.size() == 1
                    ? tr("Found so far: %1, which stays out while the search goes on among the others.")
                    : tr("Found so far: %1, which stay out while the search goes on among the others."))
                        .arg(culpritList());
        text << roundText();
        return text.join(u' ');
    }
    case State::CulpritFound:
        if (m_culprits.size() == 1) {
            return tr("The culprit is %1. Every other group comes back into the folder; the culprit stays out.")
                .arg(culpritList());
        }
        return tr("The culprits are %1. Every other group comes back into the folder; the culprits stay out.")
            .arg(culpritList());
    case State::NotAmongNew:
        return tr(
            "The game is broken with every new file out, so the cause is not among the new files: every "
            "group comes back. Try deleting the game's cache (localthumbcache.package beside Mods), and "
            "look at older script mods after a game patch.");
    case State::Stopped:
        return tr("The 50/50 was stopped: every group comes back into the folder.");
    }
    return {};
}

// "Mod A" (2 files), "Mod B" (1 file) and "Mod C" (3 files)
QString BisectSession::culpritList() const
{
    QStringList names;
    for (int group : m_culprits) {
        const BisectGroup& found = m_groups.at(group);
        names.append(tr("\"%1\" (%2)").arg(found.key, fileCount(found.paths.size())));
    }
    if (names.size() < 2)
        return names.value(0);
    const QString last = names.takeLast();
    return tr("%1 and %2").arg(names.join(u", "_s), last);
}

QString BisectSession::roundText() const
{
    const QString round = tr("Round %1 of at most %2").arg(m_round + 1).arg(mostRounds());
    if (m_movesPending) {
        const BisectMoves pending = moves();
        QString what;
        if (pending.bringBack.isEmpty() && pending.moveOut.isEmpty())
            return tr("%1: no files need to move; confirm that to go on.").arg(round);
        if (pending.bringBack.isEmpty())
            what = tr("move %1 out of the folder").arg(groupCount(pending.moveOut.size()));
        else if (pending.moveOut.isEmpty())
            what = tr("bring %1 back into the folder").arg(groupCount(pending.bringBack.size()));
        else
            what = tr("move %1 out of the folder and bring %2 back")
                       .arg(groupCount(pending.moveOut.size()), groupCount(pending.bringBack.size()));
        return tr("%1: %2. Keep the game closed while the files move.").arg(round, what);
    }
    const qsizetype outCount = out().size();
    const QString outNow = m_groups.size() == 1 ? tr("the one group is out of the folder")
        : outCount == 1 ? tr("1 of %1 groups is out of the folder").arg(m_groups.size())
                        : tr("%1 of %2 groups are out of the folder").arg(outCount).arg(m_groups.size());
    return tr("%1: %2. Start the game: does it work now?").arg(round, outNow);
}

namespace {

// Version 2 tests halves with the uncleared groups out, so the answers of a version 1 session would
// be read against layouts the player never saw.
constexpr int StoreVersion = 2;

// SQLite's primary result codes, which Qt hands on as the native error code.
constexpr int SqliteCorrupt = 11;
constexpr int SqliteNotADatabase = 26;

const QLatin1StringView eventNames[] = { "works"_L1, "broken"_L1, "stop"_L1, "moved"_L1 };

[[noreturn]] void fail(const QString& filePath, const QSqlError& error)
{
    const int code = error.nativeErrorCode().toInt();
    if (code == SqliteNotADatabase || code == SqliteCorrupt) {
        throw BisectError(BisectError::Damaged,
            tr("%1 is not a 50/50 store of Mendwell: %2").arg(filePath, error.databaseText()));
    }
    throw BisectError(BisectError::Store,
        tr("The 50/50 store %1 cannot be used: %2")
            .arg(filePath, error.databaseText().isEmpty() ? error.text() : error.databaseText()));
}

class Statement
{
public:
    Statement(const QSqlDatabase& db, const QString& filePath, const QString& sql)
        : m_query(db)
        , m_filePath(filePath)
    {
        m_query.setForwardOnly(true);
        if (!m_query.prepare(sql))
            fail(m_filePath, m_query.lastError());
    }

    Statement& bind(const QVariant& value)
    {
        m_query.addBindValue(value);
        return *this;
    }

    Statement& run()
    {
        if (!m_query.exec())
            fail(m_filePath, m_query.lastError());
        return *this;
    }

    bool next() { return m_query.next(); }
    QVariant value(int column) const { return m_query.value(column); }

private:
    QSqlQuery m_query;
    const QString& m_filePath;
};

// A change takes the write lock at once (BEGIN IMMEDIATE), so the session it reads is still the one
// it writes over even when another program answers at the same moment. Reading alone takes no write
// lock, so a store on a read-only volume can still be read.
enum class Lock { Read, Write };

class Transaction
{
public:
    Transaction(const QSqlDatabase& db, const QString& filePath, Lock lock)
        : m_db(db)
        , m_filePath(filePath)
    {
        Statement(m_db, m_filePath, lock == Lock::Write ? u"BEGIN IMMEDIATE"_s : u"BEGIN"_s).run();
    }

    ~Transaction()
    {
        if (!m_done)
            QSqlQuery(m_db).exec(u"ROLLBACK"_s);
    }

    void commit()
    {
        Statement(m_db, m_filePath, u"COMMIT"_s).run();
        m_done = true;
    }

private:
    QSqlDatabase m_db;
    const QString& m_filePath;
    bool m_done = false;
};

QAtomicInt connectionCount;

// A session no program could have written, in a store that is otherwise sound: that session alone
// is set aside.
class SessionDamaged : public BisectError
{
public:
    SessionDamaged(qint64 id, const QString& message)
        : BisectError(BisectError::Damaged, message)
        , session(id)
    { }
    qint64 session;
};

// A damaged session was set aside, so the change it was asked for is refused.
class SessionSetAside : public BisectError
{
public:
    explicit SessionSetAside(const QString& message)
        : BisectError(BisectError::Damaged, message)
    { }
};

// Every page of the file readable: a damage of the file found late is looked for again this way.
void checkPages(const QSqlDatabase& db, const QString& filePath)
{
    Statement check(db, filePath, u"PRAGMA quick_check"_s);
    if (check.run().next() && check.value(0).toString() != u"ok"_s) {
        throw BisectError(BisectError::Damaged,
            tr("The 50/50 store %1 is damaged: %2").arg(filePath, check.value(0).toString()));
    }
}

bool isDamage(const BisectError& error)
{
    return error.kind() == BisectError::Damaged || error.kind() == BisectError::UnknownVersion;
}

// Beside the file, under a name no file has: renamed, or copied when the file stays in use. Returns
// the name, or empty with the reason.
QString moveAside(const QString& filePath, bool copy, QString* reason)
{
    const QString base
        = filePath + u".damaged-"_s + QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd-HHmmss"_s);
    for (int n = 1; n < 1000; ++n) {
        const QString kept = n == 1 ? base : u"%1-%2"_s.arg(base).arg(n);
        if (QFileInfo::exists(kept) || QFileInfo::exists(kept + u"-journal"_s))
            continue;
        // Neither renames nor copies over a file that appeared meanwhile.
        QFile file(filePath);
        if (copy ? file.copy(kept) : file.rename(kept))
            return kept;
        if (QFileInfo::exists(kept))
            continue;
        *reason = file.errorString();
        return {};
    }
    *reason = tr("every name for the copy is taken");
    return {};
}

void deleteSession(const QSqlDatabase& db, const QString& filePath, qint64 id)
{
    for (const QString& table : { u"bisect_events"_s, u"bisect_files"_s, u"bisect_groups"_s })
        Statement(db, filePath, u"DELETE FROM %1 WHERE session = ?"_s.arg(table)).bind(id).run();
    Statement(db, filePath, u"DELETE FROM bisect_sessions WHERE id = ?"_s).bind(id).run();
}

struct Loaded
{
    qint64 id;
    BisectSession session;
};

std::optional<Loaded> loadSession(const QSqlDatabase& db, const QString& filePath, const QString& key)
{
    Statement find(db, filePath, u"SELECT id FROM bisect_sessions WHERE folder = ?"_s);
    if (!find.bind(key).run().next())
        return std::nullopt;
    const qint64 id = find.value(0).toLongLong();

    auto damaged = [&filePath, &key, id](const QString& what) {
        return SessionDamaged(id, tr("The 50/50 of %1 in %2 is damaged: %3").arg(key, filePath, what));
    };

    QList<BisectGroup> groups;
    Statement groupRows(db, filePath, u"SELECT idx, key FROM bisect_groups WHERE session = ? ORDER BY idx"_s);
    groupRows.bind(id).run();
    while (groupRows.next()) {
        if (groupRows.value(0).toLongLong() != groups.size())
            throw damaged(tr("a group is missing"));
        groups.append({ groupRows.value(1).toString(), {} });
    }

    Statement fileRows(
        db, filePath, u"SELECT grp, path FROM bisect_files WHERE session = ? ORDER BY grp, idx"_s);
    fileRows.bind(id).run();
    while (fileRows.next()) {
        const qint64 group = fileRows.value(0).toLongLong();
        if (group < 0 || group >= groups.size())
            throw damaged(tr("a file belongs to no group"));
        groups[group].paths.append(fileRows.value(1).toByteArray());
    }

    QList<BisectEvent> events;
    Statement eventRows(
        db, filePath, u"SELECT kind, number FROM bisect_events WHERE session = ? ORDER BY seq"_s);
    eventRows.bind(id).run();
    while (eventRows.next()) {
        const QString kind = eventRows.value(0).toString();
        const auto* found = std::find(std::begin(eventNames), std::end(eventNames), kind);
        if (found == std::end(eventNames))
            throw damaged(tr("an unknown step \"%1\"").arg(kind));
        events.append({ BisectEvent::Kind(found - std::begin(eventNames)), eventRows.value(1).toInt() });
    }

    try {
        return Loaded { id, BisectSession::replay(std::move(groups), events) };
    } catch (const BisectError& error) {
        throw damaged(error.message());
    }
}

// Under the write lock: a damaged session is dropped once the whole file is copied aside as it
// was, so its folder can start afresh and the other folders' sessions go on.
std::optional<Loaded> loadOrSetAside(
    const QSqlDatabase& db, const QString& filePath, const QString& key, QString* setAside)
{
    try {
        return loadSession(db, filePath, key);
    } catch (const SessionDamaged& error) {
        QString reason;
        const QString kept = moveAside(filePath, true, &reason);
        if (kept.isEmpty()) {
            throw BisectError(BisectError::Store,
                tr("%1 It cannot be set aside: %2").arg(error.message(), reason));
        }
        deleteSession(db, filePath, error.session);
        *setAside = tr("%1 The store was copied as it was to %2, and that 50/50 was dropped from it.")
                        .arg(error.message(), kept);
        return std::nullopt;
    }
}

}

namespace {

// Whether the file holds our tables, in the one version this code reads.
bool hasTables(const QSqlDatabase& db, const QString& filePath)
{
    Statement meta(
        db, filePath, u"SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'bisect_meta'"_s);
    if (meta.run().next()) {
        Statement version(db, filePath, u"SELECT value FROM bisect_meta WHERE name = 'version'"_s);
        if (!version.run().next()) {
            throw BisectError(
                BisectError::Damaged, tr("The 50/50 store %1 does not say its version.").arg(filePath));
        }
        bool number = false;
        const int found = version.value(0).toInt(&number);
        if (!number || found != StoreVersion) {
            throw BisectError(BisectError::UnknownVersion,
                tr("The 50/50 store %1 is of version %2; this Mendwell reads version %3 only.")
                    .arg(filePath, version.value(0).toString())
                    .arg(StoreVersion));
        }
        for (const QString& name : { u"bisect_sessions"_s, u"bisect_groups"_s, u"bisect_files"_s,
                 u"bisect_events"_s }) {
            Statement table(db, filePath, u"SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"_s);
            if (!table.bind(name).run().next()) {
                throw BisectError(
                    BisectError::Damaged, tr("The 50/50 store %1 lacks its table %2.").arg(filePath, name));
            }
        }
        return true;
    }
    // Tables of another program: the file is not ours to add to.
    Statement any(db, filePath, u"SELECT name FROM sqlite_master WHERE type = 'table'"_s);
    if (any.run().next()) {
        throw BisectError(BisectError::Damaged,
            tr("%1 is not a 50/50 store of Mendwell: it holds a table \"%2\".")
                .arg(filePath, any.value(0).toString()));
    }
    return false;
}

void createTables(const QSqlDatabase& db, const QString& filePath)
{
    // The tables carry a prefix of their own, so other stores of Mendwell may share the file.
    const QString schema[] = {
        u"CREATE TABLE bisect_meta (name TEXT PRIMARY KEY, value)"_s,
        u"INSERT INTO bisect_meta VALUES ('version', %1)"_s.arg(StoreVersion),
        u"CREATE TABLE bisect_sessions (id INTEGER PRIMARY KEY, folder TEXT NOT NULL UNIQUE, started TEXT NOT NULL)"_s,
        u"CREATE TABLE bisect_groups (session INTEGER NOT NULL, idx INTEGER NOT NULL, key TEXT NOT NULL,"
        " PRIMARY KEY (session, idx))"_s,
        u"CREATE TABLE bisect_files (session INTEGER NOT NULL, grp INTEGER NOT NULL, idx INTEGER NOT NULL,"
        " path BLOB NOT NULL, PRIMARY KEY (session, grp, idx))"_s,
        u"CREATE TABLE bisect_events (session INTEGER NOT NULL, seq INTEGER NOT NULL, kind TEXT NOT NULL,"
        " number INTEGER NOT NULL, at TEXT NOT NULL, PRIMARY KEY (session, seq))"_s,
    };
    for (const QString& sql : schema)
        Statement(db, filePath, sql).run();
}

}

BisectStore::BisectStore(const QString& filePath)
    : m_filePath(filePath)
    , m_connection(u"mending-bisect-%1"_s.arg(connectionCount.fetchAndAddRelaxed(1)))
{
    try {
        try {
            openAndCheck();
        } catch (const BisectError& error) {
            if (!isDamage(error))
                throw;
            setAsideFile(error.message());
        }
    } catch (...) {
        QSqlDatabase::removeDatabase(m_connection);
        throw;
    }
}

// Another program may be setting the same file aside: an exclusive lock on the file makes one of
// them do it, and the others then find the new store under the name and leave it be. Returns
// whether this call set it aside.
bool BisectStore::setAsideFile(const QString& reason)
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
    const QByteArray name = QFile::encodeName(m_filePath);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        openAndCheck();
        return false;
    }
    const struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };
    struct stat held {};
    struct stat named {};
    if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &held) != 0 || ::stat(name.constData(), &named) != 0
        || held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        openAndCheck();
        return false;
    }
    try {
        openAndCheck();
        checkPages(QSqlDatabase::database(m_connection, false), m_filePath);
        return false; // sound after all, or made so meanwhile
    } catch (const BisectError& error) {
        if (!isDamage(error))
            throw;
    }
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
    QString why;
    const QString kept = moveAside(m_filePath, false, &why);
    if (kept.isEmpty()) {
        throw BisectError(
            BisectError::Store, tr("%1 It cannot be set aside: %2").arg(reason, why));
    }
    // A journal left by a crash belongs to the kept file, not to the new store.
    if (QFileInfo::exists(m_filePath + u"-journal"_s))
        QFile::rename(m_filePath + u"-journal"_s, kept + u"-journal"_s);
    m_setAsideMessage
        = tr("%1 It was kept as %2, and a new 50/50 store was begun.").arg(reason, kept);
    openAndCheck();
    return true;
}

BisectStore::~BisectStore()
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

void BisectStore::openAndCheck()
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw BisectError(
            BisectError::Store, tr("The folder %1 for the 50/50 store cannot be made.").arg(folder));
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
        if (!db.isValid()) {
            throw BisectError(BisectError::Store,
                tr("Qt's SQLite driver is missing, so the 50/50 store %1 cannot be opened.").arg(m_filePath));
        }
        db.setDatabaseName(m_filePath);
        // Another Mendwell (the window and the command line) may hold the lock for a moment.
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=10000"_s);
        if (!db.open())
            fail(m_filePath, db.lastError());
    }
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    Statement(db, m_filePath, u"PRAGMA synchronous = FULL"_s).run();

    // Read first, so a store that is read-only, garbage or of another version is never written; the
    // tables are made under the write lock, looking again in case another program made them meanwhile.
    for (const Lock lock : { Lock::Read, Lock::Write }) {
        Transaction transaction(db, m_filePath, lock);
        if (hasTables(db, m_filePath))
            return;
        if (lock == Lock::Write) {
            createTables(db, m_filePath);
            transaction.commit();
        }
    }
}

QString BisectStore::defaultPath()
{
    // GenericDataLocation follows XDG_DATA_HOME, and ~/.local/share without it.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + u"/mendwell/bisect.sqlite"_s;
}

QString BisectStore::folderKey(const QString& folder)
{
    const QFileInfo info(folder);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// Damage of the file itself may show only once a page is read: then it is set aside and the call
// made again on the fresh store, or on the file another program set right meanwhile.
std::optional<BisectSession> BisectStore::load(const QString& folder)
{
    try {
        return loadOnce(folder);
    } catch (const BisectError& error) {
        if (!isDamage(error))
            throw;
        setAsideFile(error.message());
    }
    return loadOnce(folder);
}

std::optional<BisectSession> BisectStore::loadOnce(const QString& folder)
{
    const QString key = folderKey(folder);
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    std::optional<Loaded> loaded;
    try {
        Transaction transaction(db, m_filePath, Lock::Read);
        loaded = loadSession(db, m_filePath, key);
        transaction.commit();
    } catch (const SessionDamaged&) {
        // Set aside under the write lock, looking again in case another program did meanwhile.
        Transaction transaction(db, m_filePath, Lock::Write);
        loaded = loadOrSetAside(db, m_filePath, key, &m_setAsideMessage);
        transaction.commit();
    }
    if (!loaded)
        return std::nullopt;
    return std::move(loaded->session);
}

BisectSession BisectStore::start(const QString& folder, QList<BisectGroup> groups)
{
    try {
        return startOnce(folder, groups);
    } catch (const BisectError& error) {
        if (!isDamage(error))
            throw;
        setAsideFile(error.message());
    }
    return startOnce(folder, std::move(groups));
}

BisectSession BisectStore::startOnce(const QString& folder, QList<BisectGroup> groups)
{
    BisectSession session = BisectSession::start(std::move(groups));
    const QString key = folderKey(folder);
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    Transaction transaction(db, m_filePath, Lock::Write);
    if (const std::optional<Loaded> old = loadOrSetAside(db, m_filePath, key, &m_setAsideMessage)) {
        if (old->session.running()) {
            throw BisectError(BisectError::OutOfTurn,
                tr("A 50/50 is already under way for %1: answer it or stop it first.").arg(key));
        }
        if (old->session.movesPending()) {
            throw BisectError(BisectError::OutOfTurn,
                tr("The files of the last 50/50 of %1 are still moving back: finish that first.").arg(key));
        }
        deleteSession(db, m_filePath, old->id);
    }

    Statement(db, m_filePath, u"INSERT INTO bisect_sessions (folder, started) VALUES (?, ?)"_s)
        .bind(key)
        .bind(QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
        .run();
    Statement newId(db, m_filePath, u"SELECT id FROM bisect_sessions WHERE folder = ?"_s);
    if (!newId.bind(key).run().next())
        throw BisectError(BisectError::Store, tr("The 50/50 store %1 lost a new session.").arg(m_filePath));
    const qint64 id = newId.value(0).toLongLong();

    Statement groupRow(db, m_filePath, u"INSERT INTO bisect_groups (session, idx, key) VALUES (?, ?, ?)"_s);
    Statement fileRow(
        db, m_filePath, u"INSERT INTO bisect_files (session, grp, idx, path) VALUES (?, ?, ?, ?)"_s);
    for (qsizetype group = 0; group < session.groups().size(); ++group) {
        const BisectGroup& g = session.groups().at(group);
        groupRow.bind(id).bind(group).bind(g.key).run();
        for (qsizetype file = 0; file < g.paths.size(); ++file)
            fileRow.bind(id).bind(group).bind(file).bind(g.paths.at(file)).run();
    }
    transaction.commit();
    return session;
}

// A damaged file found only now is set aside, and the change refused with the sentence naming it.
template <typename Change> BisectSession BisectStore::change(const QString& folder, Change change)
{
    try {
        return changeOnce(folder, change);
    } catch (const SessionSetAside&) {
        throw;
    } catch (const BisectError& error) {
        if (!isDamage(error))
            throw;
        if (setAsideFile(error.message()))
            throw BisectError(BisectError::Damaged, m_setAsideMessage);
    }
    return changeOnce(folder, change);
}

template <typename Change> BisectSession BisectStore::changeOnce(const QString& folder, Change change)
{
    const QString key = folderKey(folder);
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    Transaction transaction(db, m_filePath, Lock::Write);
    QString setAside;
    std::optional<Loaded> loaded = loadOrSetAside(db, m_filePath, key, &setAside);
    if (!setAside.isEmpty()) {
        transaction.commit();
        m_setAsideMessage = setAside;
        throw SessionSetAside(setAside);
    }
    if (!loaded)
        throw BisectError(BisectError::OutOfTurn, tr("No 50/50 was started for %1.").arg(key));
    BisectSession& session = loaded->session;
    const qsizetype known = session.events().size();
    change(session);
    Statement eventRow(db, m_filePath,
        u"INSERT INTO bisect_events (session, seq, kind, number, at) VALUES (?, ?, ?, ?, ?)"_s);
    for (qsizetype seq = known; seq < session.events().size(); ++seq) {
        const BisectEvent& event = session.events().at(seq);
        eventRow.bind(loaded->id)
            .bind(seq)
            .bind(QString(eventNames[event.kind]))
            .bind(event.number)
            .bind(QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
            .run();
    }
    transaction.commit();
    return std::move(session);
}

BisectSession BisectStore::answer(const QString& folder, BisectAnswer answer, int forRound)
{
    return change(folder, [answer, forRound](BisectSession& session) { session.answer(answer, forRound); });
}

BisectSession BisectStore::stop(const QString& folder)
{
    return change(folder, [](BisectSession& session) { session.stop(); });
}

BisectSession BisectStore::movesDone(const QString& folder, int step)
{
    return change(folder, [step](BisectSession& session) { session.movesDone(step); });
}

}
