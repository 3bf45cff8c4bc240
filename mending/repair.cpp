// SPDX-License-Identifier: GPL-3.0-or-later
#include "repair.h"

#include "diff.h"
#include "gamefolders.h"
#include "pathtext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <sys/stat.h>

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
    NewFiles files = chosenFiles(diffTopLevel(listed, now.files), NewKinds::Added);
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
    // The Sims 4's thumbnail cache lies beside Mods whichever way the game was found.
    if (game.generation == 0 && info.fileName().compare(u"Mods"_s, Qt::CaseInsensitive) == 0)
        game.generation = 4;
    QList<QByteArray> files;
    for (const QString& cache : gameCacheFiles(game)) {
        const QFileInfo file(cache);
        // Only caches right beside the folder go along; those further away stay for the player.
        if (file.absolutePath() == parent && isFile(QFile::encodeName(cache)))
            files.append(QFile::encodeName(file.fileName()));
    }
    return files;
}

FiftyFifty::FiftyFifty(const QByteArray& folder, const QString& storePath)
    : m_folder(QFile::decodeName(canonicalFolder(folder)))
    , m_quarantine(m_folder, generationOf(folder))
    , m_store(storePath)
{ }

MoveReport FiftyFifty::recover()
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

BisectSession FiftyFifty::start(QList<BisectGroup> groups, MoveReport* report)
{
    refuseWhileGameRuns();
    return carryOut(m_store.start(m_folder, std::move(groups)), report);
}

BisectSession FiftyFifty::answer(BisectAnswer given, int forRound, MoveReport* report)
{
    refuseWhileGameRuns();
    return carryOut(m_store.answer(m_folder, given, forRound), report);
}

BisectSession FiftyFifty::stop(MoveReport* report)
{
    refuseWhileGameRuns();
    return carryOut(m_store.stop(m_folder), report);
}

QList<QByteArray> FiftyFifty::filesOut(const BisectSession& session) const
{
    QList<QByteArray> files;
    const QByteArray folder = QFile::encodeName(m_folder);
    for (const int group : session.out()) {
        for (const QByteArray& path : session.groups().at(group).paths) {
            if (!isFile(folder + '/' + path))
                files.append(path);
        }
    }
    return files;
}

BisectSession FiftyFifty::carryOut(BisectSession session, MoveReport* report)
{
    if (!session.movesPending())
        return session;
    const BisectMoves moves = session.moves();
    const QByteArray folder = QFile::encodeName(m_folder);
    // After moves cut short, some files of a group may be where they should be already.
    QList<QByteArray> goOut;
    for (const int group : moves.moveOut) {
        for (const QByteArray& path : session.groups().at(group).paths) {
            if (isFile(folder + '/' + path))
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
    // A file that could not move (its place taken) is named in the report and the round goes on; moves
    // that stopped early stay pending, to be taken the rest of the way by recover().
    const auto take = [report](const MoveReport& done) {
        report->moved += done.moved;
        report->skipped += done.skipped;
        report->cancelled = done.cancelled;
        report->error = done.error;
        return done.ok() && !done.cancelled;
    };
    if (!goOut.isEmpty() && !take(m_quarantine.moveOut(goOut)))
        return session;
    if (!comeBack.isEmpty() && !take(m_quarantine.restore({}, comeBack)))
        return session;
    return m_store.movesDone(m_folder, session.step());
}

}
