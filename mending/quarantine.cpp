// SPDX-License-Identifier: GPL-3.0-or-later
#include "quarantine.h"

#include "filesystem.h"
#include "runninggames.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <map>

using namespace Qt::StringLiterals;

// The step file says what one move is doing before it does it:
//   mendwell step 2
//   direction<TAB>out|back
//   batch<TAB><batch folder name>
//   token<TAB><random letters>   names this move's temporary copies, so that only they are ever removed
//   <r|c><f|b|d><TAB><path>      one line per file: rename or copy; a file inside the folder, a file
//                                beside it, or a whole folder inside it
//   end
// (Version 1 had no token.) It is written to a unique temporary name, synced and renamed into place, so it is
// either whole or absent. Recovery reads it and takes every listed file the rest of the way: a file is done
// when it is at its target and no longer at its source. Moves are renames that refuse to replace (so a file
// is always in exactly one place); where source and target lie on different volumes, the file is copied to a
// temporary name, synced, renamed into place, compared, and only then removed from its source. A record that
// cannot be read is set aside under another name and named to the player: every file is then in one place or,
// at worst, in two with the same bytes, and the batch folders tell where.
//
// Every file is reached from open folder handles, name by name, without following a link (see filesystem.h),
// and every recorded path is checked to be a plain relative path before it is used.
//
// The manifest (manifest.tsv) is written and synced before the step, and is never changed afterwards:
//   # comment lines
//   file|beside<TAB>size<TAB>mtime ns<TAB>mode (octal)<TAB>path
//   dir<TAB>-<TAB>mtime ns<TAB>mode (octal)<TAB>path      folders above the files, to remake them alike
// Paths are the names' bytes with "\\", tab and line feed written as \\, \t and \n. It adds what the files
// in the batch folder cannot say themselves; a batch whose manifest is lost is still found and put back.

namespace mending {

namespace {

using fs::Fd;

const QByteArray stepName = ".mendwell-step";
const QByteArray stepTemporaryPrefix = ".mendwell-step.new";
const QByteArray setAsidePrefix = ".mendwell-step.unreadable-";
const QByteArray manifestName = "manifest.tsv";
const QByteArray manifestTemporaryPrefix = "manifest.tsv.new";
const QByteArray copyPrefix = ".mendwell-copy-";

QByteArray escaped(const QByteArray& path)
{
    QByteArray out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray unescaped(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\\' && i + 1 < text.size()) {
            const char e = text.at(++i);
            out += e == 't' ? '\t' : e == 'n' ? '\n' : e;
        } else {
            out += c;
        }
    }
    return out;
}

QString shown(const QByteArray& path)
{
    return QFile::decodeName(path);
}

qint64 nanoseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

QByteArray modeText(quint32 mode)
{
    return QByteArray::number(mode, 8);
}

struct StepEntry
{
    QByteArray path;
    bool beside = false;
    bool copy = false;
    bool folder = false; // a whole folder, moved by one rename
};

struct Step
{
    bool out = true;
    QByteArray batch;
    QByteArray token;
    QList<StepEntry> entries;
};

QByteArray stepText(const Step& step)
{
    QByteArray text = "mendwell step 2\n";
    text += "direction\t" + QByteArray(step.out ? "out" : "back") + '\n';
    text += "batch\t" + escaped(step.batch) + '\n';
    text += "token\t" + step.token + '\n';
    for (const StepEntry& entry : step.entries) {
        text += entry.copy ? 'c' : 'r';
        text += entry.folder ? 'd' : entry.beside ? 'b' : 'f';
        text += '\t' + escaped(entry.path) + '\n';
    }
    text += "end\n";
    return text;
}

bool isBatchName(const QByteArray& name)
{
    return fs::isPlainRelativePath(name) && !name.contains('/') && !name.startsWith('.');
}

bool parseStep(const QByteArray& text, Step* step)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 4 || !text.endsWith("end\n"))
        return false;
    const bool withToken = lines.at(0) == "mendwell step 2";
    if (!withToken && lines.at(0) != "mendwell step 1")
        return false;
    if (lines.at(1) != "direction\tout" && lines.at(1) != "direction\tback")
        return false;
    step->out = lines.at(1) == "direction\tout";
    if (!lines.at(2).startsWith("batch\t"))
        return false;
    step->batch = unescaped(lines.at(2).mid(6));
    if (!isBatchName(step->batch))
        return false;
    qsizetype first = 3;
    if (withToken) {
        if (lines.size() < 5 || !lines.at(3).startsWith("token\t"))
            return false;
        step->token = lines.at(3).mid(6);
        if (step->token.isEmpty() || step->token.contains('/') || step->token.contains('\0'))
            return false;
        first = 4;
    } else {
        // Its temporary copies had one fixed name that a player's file may share: they are left alone, and
        // this run's copies get names of their own.
        step->token = fs::uniqueName("v1-");
    }
    for (qsizetype i = first; i < lines.size() - 2; ++i) {
        const QByteArray& line = lines.at(i);
        if (line.size() < 4 || line.at(2) != '\t' || (line.at(0) != 'r' && line.at(0) != 'c')
            || (line.at(1) != 'f' && line.at(1) != 'b' && line.at(1) != 'd'))
            return false;
        const QByteArray path = unescaped(line.mid(3));
        if (!fs::isPlainRelativePath(path))
            return false;
        step->entries.append({ path, line.at(1) == 'b', line.at(0) == 'c', line.at(1) == 'd' });
    }
    return lines.at(lines.size() - 2) == "end";
}

struct Manifest
{
    QList<QuarantinedFile> files;
    QHash<QByteArray, std::pair<quint32, qint64>> folders; // path: mode, mtime
    QStringList ignored; // lines left out, and why
};

bool readManifest(int batch, Manifest* manifest)
{
    QByteArray text;
    if (batch < 0 || !fs::readAt(batch, manifestName, &text))
        return false;
    int number = 0;
    for (const QByteArray& line : text.split('\n')) {
        ++number;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 5)
            continue;
        bool okMode = false;
        const quint32 mode = fields.at(3).toUInt(&okMode, 8);
        const qint64 mtime = fields.at(2).toLongLong();
        const QByteArray path = unescaped(fields.at(4));
        if (!fs::isPlainRelativePath(path)) {
            manifest->ignored.append(
                u"Line %1 of the manifest names %2, which is not a path inside the folder; "
                u"it was ignored."_s.arg(number)
                    .arg(shown(path)));
            continue;
        }
        if (fields.at(0) == "dir") {
            manifest->folders.insert(path, { mode, mtime });
        } else if (fields.at(0) == "file" || fields.at(0) == "beside") {
            QuarantinedFile file;
            file.path = path;
            file.beside = fields.at(0) == "beside";
            file.size = fields.at(1).toLongLong();
            file.modifiedNs = mtime;
            file.mode = mode;
            manifest->files.append(file);
        }
    }
    return true;
}

// Sorting key of a batch name: the date, then the number that tells apart two batches of one second.
std::pair<QString, int> batchOrder(const QString& name)
{
    const qsizetype open = name.lastIndexOf(u" ("_s);
    if (open > 0 && name.endsWith(u')')) {
        bool ok = false;
        const int n = name.mid(open + 2, name.size() - open - 3).toInt(&ok);
        if (ok)
            return { name.left(open), n };
    }
    return { name, 1 };
}

// Every file (anything but a folder) below a folder, by path relative to it, at any depth.
void filesIn(
    int here, const QByteArray& prefix, QList<QByteArray>& files, QMap<QByteArray, struct stat>* stats)
{
    for (const fs::Entry& entry : fs::entriesOf(here)) {
        const QByteArray path = prefix.isEmpty() ? entry.name : prefix + '/' + entry.name;
        if (entry.folder) {
            const Fd below = fs::openBeneath(here, entry.name);
            if (below.isOpen())
                filesIn(below.get(), path, files, stats);
            continue;
        }
        if (stats) {
            struct stat st;
            if (!fs::statAt(here, entry.name, &st))
                continue;
            stats->insert(path, st);
        }
        files.append(path);
    }
}

// With stats, each file's lstat() too.
void filesBelow(int folder, const QByteArray& relative, QList<QByteArray>& files,
    QMap<QByteArray, struct stat>* stats = nullptr)
{
    const Fd here = fs::openBeneath(folder, relative);
    if (here.isOpen())
        filesIn(here.get(), relative, files, stats);
}

bool holdsAFile(int folder, const QByteArray& relative)
{
    const Fd here = fs::openBeneath(folder, relative);
    if (!here.isOpen())
        return false;
    for (const fs::Entry& entry : fs::entriesOf(here.get())) {
        if (!entry.folder || holdsAFile(folder, relative + '/' + entry.name))
            return true;
    }
    return false;
}

QByteArray parentOfRelative(const QByteArray& path)
{
    return fs::parentPath(path);
}

// Folders below root (relative paths) that hold nothing but the given files and such folders, and that
// may go (movable): one rename moves each of them, files and folders with their times and permissions, and
// nothing is left to remove or remake. A mod added as a folder moves that way.
QSet<QByteArray> wholeFolders(
    int root, const QList<QByteArray>& files, const std::function<bool(const QByteArray&)>& movable)
{
    const QSet<QByteArray> chosen(files.cbegin(), files.cend());
    QSet<QByteArray> ancestors;
    for (const QByteArray& file : files) {
        for (QByteArray folder = parentOfRelative(file); !folder.isEmpty() && !ancestors.contains(folder);
             folder = parentOfRelative(folder))
            ancestors.insert(folder);
    }
    QList<QByteArray> deepestFirst(ancestors.cbegin(), ancestors.cend());
    std::sort(deepestFirst.begin(), deepestFirst.end(),
        [](const QByteArray& a, const QByteArray& b) { return a.count('/') > b.count('/'); });
    QSet<QByteArray> whole;
    for (const QByteArray& folder : std::as_const(deepestFirst)) {
        if (!movable(folder))
            continue;
        const Fd here = fs::openBeneath(root, folder);
        if (!here.isOpen())
            continue;
        bool all = true;
        for (const fs::Entry& entry : fs::entriesOf(here.get())) {
            const QByteArray child = folder + '/' + entry.name;
            if (!chosen.contains(child) && !whole.contains(child)) {
                all = false;
                break;
            }
        }
        if (all)
            whole.insert(folder);
    }
    return whole;
}

// The files as step entries, each file inside a whole folder replaced by the outermost such folder.
QList<StepEntry> withWholeFolders(const QList<StepEntry>& files, const QSet<QByteArray>& whole)
{
    QList<StepEntry> entries;
    QSet<QByteArray> added;
    for (const StepEntry& file : files) {
        QByteArray outermost;
        if (!file.beside && !file.copy) {
            for (qsizetype slash = file.path.indexOf('/'); slash > 0;
                 slash = file.path.indexOf('/', slash + 1)) {
                if (whole.contains(file.path.left(slash))) {
                    outermost = file.path.left(slash);
                    break;
                }
            }
        }
        if (outermost.isEmpty()) {
            entries.append(file);
        } else if (!added.contains(outermost)) {
            added.insert(outermost);
            entries.append({ outermost, false, false, true });
        }
    }
    return entries;
}

QList<QByteArray> renamableInside(const QList<StepEntry>& entries)
{
    QList<QByteArray> files;
    for (const StepEntry& entry : entries) {
        if (!entry.beside && !entry.copy)
            files.append(entry.path);
    }
    return files;
}

// The folders one move works between, opened once: the game folder, its parent, the quarantine and the
// batch, with the batch's two stores, made when first needed.
struct Places
{
    Fd parent;
    Fd folder;
    Fd quarantine;
    QByteArray parentPath; // for the messages only
    QByteArray folderName;
    QByteArray quarantineName;

    QByteArray insideName() const { return folderName; }
    QByteArray besideName() const { return "beside " + folderName; }
};

// Carries out a step; run again after a crash it takes every file the rest of the way.
class StepRunner
{
public:
    // resuming: the step was begun by an earlier run, which may have left a temporary copy.
    StepRunner(const Places& places, const Step& step, MoveWatch* watch = nullptr, bool resuming = false)
        : m_places(places)
        , m_step(step)
        , m_watch(watch)
        , m_resuming(resuming)
    {
        m_batch = fs::openBeneath(places.quarantine.get(), step.batch);
        readManifest(m_batch.get(), &m_manifest);
    }

    MoveReport run()
    {
        MoveReport report;
        report.batch = shown(m_step.batch);
        QList<QString> problems;
        if (m_watch)
            m_watch->total += m_step.entries.size();
        for (m_index = 0; m_index < m_step.entries.size(); ++m_index) {
            if (m_watch && m_watch->cancel) {
                report.cancelled = true;
                break;
            }
            problems.append(apply(m_step.entries.at(m_index)));
            if (m_watch) {
                ++m_watch->done;
                if (m_watch->betweenFiles)
                    m_watch->betweenFiles();
            }
        }
        // One sync of each volume instead of one per file and folder: copies have their bytes on disk, and
        // every rename is kept, before any source is removed or the step is marked done.
        syncVolumes();
        for (const Copied& copied : std::as_const(m_copied)) {
            const QString problem = finishCopy(copied.entry);
            if (copied.inFolder) {
                if (!problem.isEmpty())
                    m_folderProblems.insert(copied.entry.path, problem);
            } else {
                problems[copied.index] = problem;
            }
        }
        for (qsizetype i = 0; i < problems.size(); ++i) {
            const StepEntry& entry = m_step.entries.at(i);
            if (entry.folder)
                continue;
            if (problems.at(i).isEmpty())
                report.moved.append(entry.path);
            else
                report.skipped.append({ entry.path, problems.at(i) });
        }
        // A folder is reported as the files of it that arrived.
        for (auto it = m_folderFiles.cbegin(); it != m_folderFiles.cend(); ++it) {
            for (const QByteArray& file : it.value()) {
                if (!m_folderProblems.contains(file) && fs::existsBeneath(targetRoot(false, false), file))
                    report.moved.append(file);
            }
        }
        for (auto it = m_folderProblems.cbegin(); it != m_folderProblems.cend(); ++it)
            report.skipped.append({ it.key(), it.value() });
        report.notice = m_notices.join(u'\n');
        removeEmptiedFolders();
        return report;
    }

private:
    enum Root { GameFolder, Parent, InsideStore, BesideStore };

    struct Copied
    {
        qsizetype index;
        StepEntry entry;
        bool inFolder;
    };

    Root sourceKind(const StepEntry& entry) const
    {
        return m_step.out ? (entry.beside ? Parent : GameFolder) : (entry.beside ? BesideStore : InsideStore);
    }
    Root targetKind(const StepEntry& entry) const
    {
        return m_step.out ? (entry.beside ? BesideStore : InsideStore) : (entry.beside ? Parent : GameFolder);
    }

    // The handle of a root, -1 where a store is not there (and make is false).
    int root(Root kind, bool make)
    {
        switch (kind) {
        case GameFolder:
            return m_places.folder.get();
        case Parent:
            return m_places.parent.get();
        case InsideStore:
        case BesideStore: {
            // Going back, a batch already removed (by a run that was killed after it) has nothing left to
            // move.
            Fd& store = kind == InsideStore ? m_inside : m_beside;
            if (!store.isOpen() && m_batch.isOpen()) {
                const QByteArray name = kind == InsideStore ? m_places.insideName() : m_places.besideName();
                store = make ? fs::makeBeneath(m_batch.get(), name) : fs::openBeneath(m_batch.get(), name);
            }
            return store.get();
        }
        }
        return -1;
    }
    int targetRoot(const StepEntry& entry, bool make) { return root(targetKind(entry), make); }
    int targetRoot(bool beside, bool make)
    {
        return targetRoot(StepEntry { {}, beside, false, false }, make);
    }

    QByteArray placeText(Root kind, const QByteArray& path) const
    {
        const QByteArray parent = m_places.parentPath + '/';
        const QByteArray batch = parent + m_places.quarantineName + '/' + m_step.batch + '/';
        switch (kind) {
        case GameFolder:
            return parent + m_places.folderName + '/' + path;
        case Parent:
            return parent + path;
        case InsideStore:
            return batch + m_places.insideName() + '/' + path;
        case BesideStore:
            return batch + m_places.besideName() + '/' + path;
        }
        return path;
    }

    // This move's temporary name for a copy of path: a player's file never has it, and a run after a kill
    // finds its leftover by it.
    QByteArray temporaryName(const QByteArray& path) const
    {
        return copyPrefix + m_step.token + '-'
            + QCryptographicHash::hash(path, QCryptographicHash::Sha1).toHex().left(16);
    }

    void syncVolumes()
    {
        QSet<dev_t> done;
        for (const int fd : { m_places.folder.get(), m_places.parent.get(), m_batch.get() }) {
            const dev_t volume = fs::volumeOf(fd);
            if (done.contains(volume))
                continue;
            done.insert(volume);
            fs::syncVolume(fd);
        }
    }

    void emptied(Root kind, const QByteArray& path)
    {
        if (kind != Parent)
            m_emptied.insert({ kind, parentOfRelative(path) });
    }

    static QString cannotOpen(int error)
    {
        return error == ELOOP || error == ENOTDIR
            ? u"a folder on its way is a link or not a folder, and Mendwell never moves through those"_s
            : u"its folder cannot be opened: %1"_s.arg(fs::errorText(error));
    }

    // A copy whose bytes, time and permissions match its source is this move's own copy: removing the source
    // then loses nothing. Anything else (the player's file of that name) is left alone.
    static bool sameFile(
        int fromFolder, const QByteArray& name, const struct stat& from, int toFolder, const struct stat& to)
    {
        return from.st_mode == to.st_mode && from.st_size == to.st_size
            && nanoseconds(from.st_mtim) == nanoseconds(to.st_mtim)
            && fs::sameBytes(fromFolder, name, toFolder, name);
    }

    // The source of a copy goes only once its copy is on disk and reads back the same. Where the source
    // cannot go, the copy does, so that the file is in one place and is reported as staying.
    QString finishCopy(const StepEntry& entry)
    {
        const QByteArray name = fs::lastName(entry.path);
        const QByteArray parent = parentOfRelative(entry.path);
        int error = 0;
        const int from = openSource(entry, &error);
        const int to = openTarget(entry, &error);
        if (from < 0 || to < 0)
            return u"it could not be found again after copying"_s;
        if (!fs::sameBytes(from, name, to, name)) {
            fs::removeAt(to, name);
            return u"the copy at %1 did not read back the same, so it was removed and the file stays"_s.arg(
                shown(placeText(targetKind(entry), entry.path)));
        }
        if (!fs::removeAt(from, name)) {
            error = errno;
            fs::removeAt(to, name);
            return u"it stays where it was: it was copied, but %1 could not be removed (%2), so the copy was "
                   u"removed again"_s.arg(
                       shown(placeText(sourceKind(entry), entry.path)), fs::errorText(error));
        }
        emptied(sourceKind(entry), entry.path);
        return {};
    }

    // Makes the folders above a target; going back they get the permissions they had.
    int makeParents(const StepEntry& entry, QString* problem)
    {
        const std::pair<Root, QByteArray> key { targetKind(entry), parentOfRelative(entry.path) };
        if (const auto known = m_folders.find(key); known != m_folders.end())
            return known->second.get();
        const int target = targetRoot(entry, true);
        if (target < 0) {
            *problem = u"the batch's folder cannot be made in %1"_s.arg(shown(m_step.batch));
            return -1;
        }
        QList<QByteArray> made;
        int error = 0;
        Fd folder = fs::makeBeneath(target, parentOfRelative(entry.path), &error, &made);
        if (!folder.isOpen()) {
            *problem = error == ELOOP || error == ENOTDIR
                ? u"a folder on the way to %1 is a link or not a folder"_s.arg(
                    shown(placeText(targetKind(entry), entry.path)))
                : u"its folder cannot be made: %1"_s.arg(fs::errorText(error));
            return -1;
        }
        if (!m_step.out && !entry.beside) {
            for (const QByteArray& path : std::as_const(made)) {
                const auto known = m_manifest.folders.constFind(path);
                if (known != m_manifest.folders.constEnd())
                    fs::setFolderMode(target, path, known->first);
            }
        }
        return m_folders.insert_or_assign(key, std::move(folder)).first->second.get();
    }

    // A folder below a root, where it exists; kept open for the files after it (a folder once opened is the
    // same folder, whatever is renamed or linked in its place later), until the step is done.
    int openFolder(Root kind, const QByteArray& relative, int* error)
    {
        const std::pair<Root, QByteArray> key { kind, relative };
        if (const auto known = m_folders.find(key); known != m_folders.end())
            return known->second.get();
        const int base = root(kind, false);
        if (base < 0) {
            *error = ENOENT;
            return -1;
        }
        Fd folder = fs::openBeneath(base, relative, error);
        if (!folder.isOpen())
            return -1;
        return m_folders.insert_or_assign(key, std::move(folder)).first->second.get();
    }
    int openSource(const StepEntry& entry, int* error)
    {
        return openFolder(sourceKind(entry), parentOfRelative(entry.path), error);
    }
    int openTarget(const StepEntry& entry, int* error)
    {
        return openFolder(targetKind(entry), parentOfRelative(entry.path), error);
    }

    // A whole folder goes by one rename; where its target folder exists already (a kill came in the middle
    // of the files below, or the player made it again), or the volume cannot rename it, its files go one by
    // one.
    QString applyFolder(const StepEntry& entry)
    {
        const QByteArray name = fs::lastName(entry.path);
        const QByteArray parent = parentOfRelative(entry.path);
        int error = ENOENT;
        const int from = openSource(entry, &error);
        struct stat st;
        const bool hasSource = from >= 0 && fs::statAt(from, name, &st) && S_ISDIR(st.st_mode);
        const int targetFd = targetRoot(entry, false);
        const bool hasTarget = targetFd >= 0 && fs::existsBeneath(targetFd, entry.path);
        if (!hasSource) {
            if (!hasTarget)
                return from >= 0 || error == ENOENT ? u"it is no longer there"_s : cannotOpen(error);
            QList<QByteArray> arrived;
            filesBelow(targetFd, entry.path, arrived);
            m_folderFiles.insert(entry.path, arrived);
            return {};
        }
        QList<QByteArray> files;
        filesBelow(from, name, files);
        for (QByteArray& file : files)
            file = parent.isEmpty() ? file : parent + '/' + file;
        m_folderFiles.insert(entry.path, files);
        if (!hasTarget) {
            QString problem;
            const int to = makeParents(entry, &problem);
            if (to < 0)
                return problem;
            if (fs::renameWithoutReplacing(from, name, to, name) == 0) {
                emptied(sourceKind(entry), entry.path);
                if (!m_step.out)
                    remakeFoldersAlike(entry.path);
                return {};
            }
        }
        m_inFolder = true;
        for (const QByteArray& file : std::as_const(files)) {
            const StepEntry one { file, false, false, false };
            const QString problem = apply(one);
            if (!problem.isEmpty())
                m_folderProblems.insert(one.path, problem);
        }
        m_inFolder = false;
        return {};
    }

    // Folders made in the quarantine to hold single files have the default permissions; once such a folder
    // goes back whole, it and the folders below it get the permissions they had in the game folder.
    void remakeFoldersAlike(const QByteArray& relative)
    {
        const QByteArray below = relative + '/';
        for (auto it = m_manifest.folders.cbegin(); it != m_manifest.folders.cend(); ++it) {
            if (it.key() == relative || it.key().startsWith(below))
                fs::setFolderMode(m_places.folder.get(), it.key(), it->first);
        }
    }

    QString apply(const StepEntry& entry)
    {
        if (entry.folder)
            return applyFolder(entry);
        const QByteArray name = fs::lastName(entry.path);
        const QByteArray parent = parentOfRelative(entry.path);
        int sourceError = ENOENT;
        const int from = openSource(entry, &sourceError);
        struct stat sourceStat, targetStat;
        const bool hasSource = from >= 0 && fs::statAt(from, name, &sourceStat);
        int targetError = ENOENT;
        int to = openTarget(entry, &targetError);
        if (to < 0 && targetError != ENOENT)
            return cannotOpen(targetError);
        const bool hasTarget = to >= 0 && fs::statAt(to, name, &targetStat);
        const QByteArray temporary = temporaryName(entry.path);
        if (to >= 0 && m_resuming)
            fs::removeAt(to, temporary); // an unfinished copy: the file itself is still at its source
        if (!hasSource && hasTarget)
            return {};
        if (!hasSource)
            return from >= 0 || sourceError == ENOENT ? u"it is no longer there"_s : cannotOpen(sourceError);
        if (hasTarget) {
            // Two names of one file: the link fallback was interrupted before its unlink.
            if (sourceStat.st_dev == targetStat.st_dev && sourceStat.st_ino == targetStat.st_ino) {
                fs::removeAt(from, name);
                emptied(sourceKind(entry), entry.path);
                return {};
            }
            // A finished copy whose source was not yet removed: no rename crosses volumes.
            if ((entry.copy || sourceStat.st_dev != targetStat.st_dev)
                && sameFile(from, name, sourceStat, to, targetStat)) {
                m_copied.append({ m_index, entry, m_inFolder });
                return {};
            }
            return u"a file of that name is already at %1, so this one was kept where it is"_s.arg(
                shown(placeText(targetKind(entry), entry.path)));
        }
        QString problem;
        to = makeParents(entry, &problem);
        if (to < 0)
            return problem;
        if (!entry.copy) {
            const int error = fs::renameWithoutReplacing(from, name, to, name);
            if (error == 0) {
                emptied(sourceKind(entry), entry.path);
                return {};
            }
            if (error == EEXIST)
                return u"a file of that name is already at %1, so this one was kept where it is"_s.arg(
                    shown(placeText(targetKind(entry), entry.path)));
            if (error != EXDEV)
                return u"it could not be moved: %1"_s.arg(fs::errorText(error));
        }
        const fs::CopyResult copied = fs::copyFile(from, name, sourceStat, to, temporary, false);
        if (!copied.error.isEmpty())
            return u"it could not be copied: %1"_s.arg(copied.error);
        if (!copied.ownerKept)
            m_notices.append(u"%1 could not keep its owner (user %2) on the other volume; it now belongs to "
                             u"whoever runs Mendwell."_s.arg(shown(entry.path))
                                 .arg(sourceStat.st_uid));
        const int error = fs::renameWithoutReplacing(to, temporary, to, name);
        if (error != 0) {
            fs::removeAt(to, temporary);
            return error == EEXIST
                ? u"a file of that name is already at %1, so this one was kept where it is"_s.arg(
                    shown(placeText(targetKind(entry), entry.path)))
                : u"it could not be moved: %1"_s.arg(fs::errorText(error));
        }
        m_copied.append({ m_index, entry, m_inFolder });
        return {};
    }

    // Folders that moving files out left empty go too, so the game folder looks as it did before they came;
    // removing a folder fails unless it is empty, and never reaches the roots themselves.
    void removeEmptiedFolders()
    {
        QList<std::pair<Root, QByteArray>> folders(m_emptied.cbegin(), m_emptied.cend());
        std::sort(folders.begin(), folders.end(),
            [](const auto& a, const auto& b) { return a.second.count('/') > b.second.count('/'); });
        QSet<std::pair<Root, QByteArray>> done;
        for (auto [kind, folder] : std::as_const(folders)) {
            const int base = root(kind, false);
            while (base >= 0 && !folder.isEmpty() && !done.contains({ kind, folder })) {
                const Fd above = fs::openBeneath(base, parentOfRelative(folder));
                // A folder that is not empty yet may be emptied by a deeper one further on.
                if (!above.isOpen() || !fs::removeAt(above.get(), fs::lastName(folder), true))
                    break;
                done.insert({ kind, folder });
                folder = parentOfRelative(folder);
            }
        }
    }

    const Places& m_places;
    Fd m_batch;
    Fd m_inside;
    Fd m_beside;
    Step m_step;
    Manifest m_manifest;
    QSet<std::pair<Root, QByteArray>> m_emptied;
    QList<Copied> m_copied; // files copied whose sources go once the volumes are synced
    bool m_inFolder = false; // applying the files of a whole folder one by one
    std::map<std::pair<Root, QByteArray>, Fd> m_folders;
    QMap<QByteArray, QList<QByteArray>> m_folderFiles;
    QMap<QByteArray, QString> m_folderProblems;
    QStringList m_notices;
    MoveWatch* m_watch = nullptr;
    bool m_resuming = false;
    qsizetype m_index = 0;
};

// A batch that no longer holds any file is removed with its manifest: nothing of the player's is in it.
// Whatever else is left below it (a file put there by hand) keeps it, since only empty folders are removed.
void removeBatchIfEmpty(const Places& places, const QByteArray& batchName)
{
    const Fd batch = fs::openBeneath(places.quarantine.get(), batchName);
    if (!batch.isOpen())
        return;
    const QList<QByteArray> stores { places.insideName(), places.besideName() };
    for (const QByteArray& store : stores) {
        if (holdsAFile(batch.get(), store))
            return;
    }
    const auto removeEmptyTree = [](int base, const QByteArray& relative, auto& self) -> void {
        const Fd here = fs::openBeneath(base, relative);
        if (!here.isOpen())
            return;
        for (const fs::Entry& entry : fs::entriesOf(here.get())) {
            if (entry.folder)
                self(base, relative + '/' + entry.name, self);
        }
        const Fd above = fs::openBeneath(base, parentOfRelative(relative));
        if (above.isOpen())
            fs::removeAt(above.get(), fs::lastName(relative), true);
    };
    for (const QByteArray& store : stores)
        removeEmptyTree(batch.get(), store, removeEmptyTree);
    for (const fs::Entry& entry : fs::entriesOf(batch.get())) {
        if (!entry.folder && entry.name.startsWith(manifestTemporaryPrefix))
            fs::removeAt(batch.get(), entry.name);
    }
    // The manifest goes with the last file: an empty batch would only tell the player something is still out.
    struct stat st;
    if (!fs::statAt(batch.get(), places.insideName(), &st)
        && !fs::statAt(batch.get(), places.besideName(), &st))
        fs::removeAt(batch.get(), manifestName);
    fs::removeAt(places.quarantine.get(), batchName, true);
}

// Opens the folders a move works between; the quarantine only where it exists, or is made when make is true.
QString openPlaces(const QByteArray& folder, const QByteArray& quarantine, bool make, Places* places)
{
    places->folderName = fs::lastName(folder);
    places->quarantineName = fs::lastName(quarantine);
    const QByteArray parent = fs::parentPath(folder);
    places->parentPath = parent == "/" ? QByteArray() : parent;
    if (places->folderName.isEmpty() || parent.isEmpty())
        return u"%1 is not a folder files can be moved out of."_s.arg(shown(folder));
    int error = 0;
    places->parent = fs::openFolder(parent, &error);
    if (!places->parent.isOpen())
        return u"cannot open the folder %1: %2"_s.arg(shown(parent), fs::errorText(error));
    places->folder = fs::openBeneath(places->parent.get(), places->folderName, &error);
    if (!places->folder.isOpen())
        return u"cannot open the folder %1: %2"_s.arg(shown(folder), fs::errorText(error));
    places->quarantine = make ? fs::makeBeneath(places->parent.get(), places->quarantineName, &error)
                              : fs::openBeneath(places->parent.get(), places->quarantineName, &error);
    if (!places->quarantine.isOpen() && (make || error != ENOENT))
        return u"cannot open the folder %1: %2"_s.arg(shown(quarantine), fs::errorText(error));
    return {};
}

// What a move out will take: the files that can go, with what the manifest records of them and of the
// folders they lie in. Paths that cannot go are added to skipped with the reason.
class MovePlan
{
public:
    MovePlan(const Places& places, QList<std::pair<QByteArray, QString>>* skipped)
        : m_places(places)
        , m_skipped(skipped)
        , m_quarantineVolume(fs::volumeOf(places.parent.get()))
    {
    }

    void add(const QByteArray& path, bool beside)
    {
        if (!fs::isPlainRelativePath(path)) {
            m_skipped->append({ path, u"it is not a path inside the folder"_s });
            return;
        }
        const QByteArray key = (beside ? "b" : "f") + path;
        if (m_seen.contains(key))
            return;
        m_seen.insert(key);
        const int root = beside ? m_places.parent.get() : m_places.folder.get();
        if (!foldersOnTheWayAreFolders(path, beside, root))
            return;
        struct stat st;
        const Fd& parent = opened(key.left(1), root, fs::parentPath(path));
        if (!parent.isOpen() || !fs::statAt(parent.get(), fs::lastName(path), &st)) {
            m_skipped->append({ path, u"it cannot be found: %1"_s.arg(fs::errorText(errno)) });
            return;
        }
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            m_skipped->append({ path, u"it is not a file"_s });
            return;
        }
        files.append({ path, beside, st.st_size, nanoseconds(st.st_mtim), st.st_mode, true });
        // Where the file lies on another volume than the quarantine (the folder is a mount point, or a
        // folder below it is), it is copied rather than renamed.
        entries.append({ path, beside, st.st_dev != m_quarantineVolume });
    }

    QList<QuarantinedFile> files;
    QList<StepEntry> entries;
    QHash<QByteArray, std::pair<quint32, qint64>> folders; // mode and modification time, for the manifest

private:
    // A folder on the way that is a link would take the move outside the game folder.
    bool foldersOnTheWayAreFolders(const QByteArray& path, bool beside, int root)
    {
        const QList<QByteArray> parts = path.split('/');
        QByteArray above;
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            above += (above.isEmpty() ? "" : "/") + parts.at(i);
            const QByteArray known = (beside ? "b" : "f") + above;
            if (!m_checkedFolders.contains(known)) {
                struct stat st;
                const bool isFolder = fs::existsBeneath(root, above, &st) && S_ISDIR(st.st_mode);
                m_checkedFolders.insert(known, isFolder);
                if (isFolder && !beside)
                    folders.insert(above, { st.st_mode, nanoseconds(st.st_mtim) });
            }
            if (!m_checkedFolders.value(known)) {
                m_skipped->append({ path, u"%1 is not a folder (a link, or missing)"_s.arg(shown(above)) });
                return false;
            }
        }
        return true;
    }

    const Fd& opened(const QByteArray& side, int root, const QByteArray& folder)
    {
        auto found = m_openedFolders.find(side + folder);
        if (found == m_openedFolders.end())
            found = m_openedFolders.emplace(side + folder, fs::openBeneath(root, folder)).first;
        return found->second;
    }

    const Places& m_places;
    QList<std::pair<QByteArray, QString>>* m_skipped;
    dev_t m_quarantineVolume;
    QSet<QByteArray> m_seen;
    QHash<QByteArray, bool> m_checkedFolders;
    std::map<QByteArray, Fd> m_openedFolders;
};

// The manifest says, for a player reading it, what each file was and where it goes back to.
QByteArray manifestText(const QByteArray& folder, const MovePlan& plan)
{
    QByteArray manifest = "# Files Mendwell moved out of " + escaped(folder) + "\n# at "
        + QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8()
        + "\n# Put them back with Mendwell, or move them back by hand to the same place.\n"
          "# kind\tsize\tmodified (ns since 1970)\tmode\tpath\n";
    QList<QByteArray> folderPaths = plan.folders.keys();
    std::sort(folderPaths.begin(), folderPaths.end());
    for (const QByteArray& path : std::as_const(folderPaths)) {
        const auto& [mode, mtime] = plan.folders.value(path);
        manifest
            += "dir\t-\t" + QByteArray::number(mtime) + '\t' + modeText(mode) + '\t' + escaped(path) + '\n';
    }
    for (const QuarantinedFile& file : plan.files) {
        manifest += QByteArray(file.beside ? "beside" : "file") + '\t' + QByteArray::number(file.size) + '\t'
            + QByteArray::number(file.modifiedNs) + '\t' + modeText(file.mode) + '\t' + escaped(file.path)
            + '\n';
    }
    return manifest;
}

// Makes a new batch folder named for the time, "(2)" and on where two moves share a second. Returns 0 or
// the errno.
int makeBatchFolder(int quarantine, QByteArray* batchName)
{
    const QString date = QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH.mm.ss"_s);
    for (int n = 1;; ++n) {
        *batchName = QFile::encodeName(n == 1 ? date : u"%1 (%2)"_s.arg(date).arg(n));
        const int made = fs::makeFolderAt(quarantine, *batchName);
        if (made != EEXIST)
            return made;
    }
}

}

int QuarantineBatch::filesOut() const
{
    return int(
        std::count_if(files.cbegin(), files.cend(), [](const QuarantinedFile& file) { return file.out; }));
}

QString quarantineFolderFor(const QString& folder)
{
    const QFileInfo info(folder);
    return info.absolutePath() + u'/' + info.fileName() + u" (moved out by Mendwell)"_s;
}

QByteArray quarantineFolderBytesFor(const QByteArray& folder)
{
    QByteArray path = folder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path + " (moved out by Mendwell)";
}

Quarantine::Quarantine(const QString& folder, int generation)
    : Quarantine(QFile::encodeName(QFileInfo(folder).absoluteFilePath()), generation)
{ }

Quarantine::Quarantine(const QByteArray& folder, int generation)
    : m_generation(generation)
{
    QByteArray path = fs::realPath(folder);
    if (path.isEmpty()) {
        path = folder.startsWith('/') ? folder : QFile::encodeName(QDir::currentPath()) + '/' + folder;
        path = QFile::encodeName(QDir::cleanPath(QFile::decodeName(path)));
    }
    m_folderBytes = path;
    m_quarantineBytes = quarantineFolderBytesFor(path);
    m_folder = QFile::decodeName(m_folderBytes);
    m_quarantine = QFile::decodeName(m_quarantineBytes);
}

bool Quarantine::unfinishedMove() const
{
    Places places;
    struct stat st;
    return openPlaces(m_folderBytes, m_quarantineBytes, false, &places).isEmpty()
        && places.quarantine.isOpen() && fs::statAt(places.quarantine.get(), stepName, &st);
}

QString Quarantine::gameRunningMessage() const
{
    return runningGameMessage(m_generation);
}

MoveReport Quarantine::recover()
{
    // One Mendwell at a time moves files of a folder: the window and a command line could otherwise both
    // take the same step. The lock is on the folder's parent, where the quarantine lives.
    const Fd lock = fs::lockFolder(fs::parentPath(m_folderBytes));
    return recoverLocked();
}

MoveReport Quarantine::recoverLocked()
{
    MoveReport report;
    Places places;
    if (const QString error = openPlaces(m_folderBytes, m_quarantineBytes, false, &places);
        !error.isEmpty()) {
        report.error = error;
        return report;
    }
    if (!places.quarantine.isOpen())
        return report;
    const int quarantine = places.quarantine.get();
    // Step files that never got their name: no file had moved yet.
    for (const fs::Entry& entry : fs::entriesOf(quarantine)) {
        if (!entry.folder && entry.name.startsWith(stepTemporaryPrefix))
            fs::removeAt(quarantine, entry.name);
    }

    QByteArray pending;
    Step step;
    if (fs::readAt(quarantine, stepName, &pending)) {
        const QString record = shown(m_quarantineBytes + '/' + stepName);
        if (!parseStep(pending, &step)) {
            // Kept for whoever wants to read it, and out of the way: the batch folders say where the files
            // are.
            const QByteArray aside = fs::uniqueName(setAsidePrefix);
            if (const int error = fs::renameWithoutReplacing(quarantine, stepName, quarantine, aside);
                error != 0) {
                report.error
                    = u"The record of an unfinished move, %1, cannot be read and cannot be set aside "
                      u"(%2); nothing was changed."_s.arg(record, fs::errorText(error));
                return report;
            }
            fs::syncFolder(quarantine);
            report.notice
                = u"The record of an unfinished move, %1, cannot be read; it was kept as %2. Every "
                  u"file moved so far is in the game folder or in its batch, and can be put back."_s.arg(
                      record, shown(m_quarantineBytes + '/' + aside));
        } else {
            // The step was begun with the game closed; finishing it brings the folder back to a state the
            // player chose, which is safer than leaving it half done.
            report = StepRunner(places, step, nullptr, true).run();
            // Going back, the batch is removed before the step is marked done, so that a kill in the middle
            // of removing it is finished here next time; going out, the batch has just been filled.
            if (!step.out)
                removeBatchIfEmpty(places, step.batch);
            if (!fs::removeAt(quarantine, stepName))
                report.error = u"cannot remove %1: %2"_s.arg(record, fs::errorText(errno));
            fs::syncFolder(quarantine);
        }
    }
    // A batch made by a move that stopped before its step was recorded, or whose files all stayed, holds a
    // manifest and nothing else.
    for (const fs::Entry& entry : fs::entriesOf(quarantine)) {
        if (entry.folder && isBatchName(entry.name))
            removeBatchIfEmpty(places, entry.name);
    }
    fs::removeAt(places.parent.get(), places.quarantineName, true);
    return report;
}

MoveReport Quarantine::moveOut(const QList<QByteArray>& paths, const QList<QByteArray>& besidePaths)
{
    const Fd lock = fs::lockFolder(fs::parentPath(m_folderBytes));
    MoveReport report = recoverLocked();
    if (!report.ok())
        return report;
    const QString recovered = report.notice;
    report = {};
    report.notice = recovered;
    if (const QString running = gameRunningMessage(); !running.isEmpty()) {
        report.error = running;
        return report;
    }
    Places places;
    if (const QString error = openPlaces(m_folderBytes, m_quarantineBytes, false, &places);
        !error.isEmpty()) {
        report.error = places.folder.isOpen() || !places.parent.isOpen()
            ? error
            : u"%1 is not a folder files can be moved out of."_s.arg(m_folder);
        return report;
    }
    MovePlan plan(places, &report.skipped);
    for (const QByteArray& path : paths)
        plan.add(path, false);
    for (const QByteArray& path : besidePaths)
        plan.add(path, true);
    if (plan.entries.isEmpty())
        return report;

    int error = 0;
    places.quarantine = fs::makeBeneath(places.parent.get(), places.quarantineName, &error);
    if (!places.quarantine.isOpen()) {
        report.error = u"cannot make the folder %1: %2"_s.arg(m_quarantine, fs::errorText(error));
        return report;
    }
    const int quarantine = places.quarantine.get();
    QByteArray batchName;
    if (const int made = makeBatchFolder(quarantine, &batchName); made != 0) {
        report.error = u"cannot make a batch folder in %1: %2"_s.arg(m_quarantine, fs::errorText(made));
        return report;
    }
    const Fd batch = fs::openBeneath(quarantine, batchName, &error);
    if (!batch.isOpen()) {
        report.error = u"cannot open the batch folder in %1: %2"_s.arg(m_quarantine, fs::errorText(error));
        return report;
    }
    if (const QString failed = fs::writeAtomically(batch.get(), manifestName, manifestText(m_folderBytes, plan));
        !failed.isEmpty()) {
        report.error = u"cannot write the manifest in %1: %2"_s.arg(
            shown(m_quarantineBytes + '/' + batchName), failed);
        fs::removeAt(quarantine, batchName, true);
        return report;
    }
    fs::syncFolder(quarantine);

    Step step;
    step.out = true;
    step.batch = batchName;
    step.token = fs::uniqueName({});
    step.entries = withWholeFolders(plan.entries,
        wholeFolders(places.folder.get(), renamableInside(plan.entries), [](const QByteArray&) { return true; }));
    if (const QString failed = fs::writeAtomically(quarantine, stepName, stepText(step)); !failed.isEmpty()) {
        report.error = u"cannot record the move in %1: %2"_s.arg(m_quarantine, failed);
        removeBatchIfEmpty(places, batchName);
        return report;
    }
    const QList<std::pair<QByteArray, QString>> refused = report.skipped;
    const QString notice = report.notice;
    report = StepRunner(places, step, m_watch).run();
    report.skipped = refused + report.skipped;
    report.notice = QStringList { notice, report.notice }.join(u'\n').trimmed();
    fs::removeAt(quarantine, stepName);
    fs::syncFolder(quarantine);
    removeBatchIfEmpty(places, batchName);
    fs::removeAt(places.parent.get(), places.quarantineName, true);
    return report;
}

MoveReport Quarantine::restore(const QString& batchName, const QList<QByteArray>& paths)
{
    const Fd lock = fs::lockFolder(fs::parentPath(m_folderBytes));
    MoveReport report = recoverLocked();
    if (!report.ok())
        return report;
    const QString recovered = report.notice;
    report = {};
    QStringList notices;
    if (!recovered.isEmpty())
        notices.append(recovered);
    if (const QString running = gameRunningMessage(); !running.isEmpty()) {
        report.error = running;
        return report;
    }
    QList<QuarantineBatch> chosen = batches();
    std::reverse(chosen.begin(), chosen.end());
    if (!batchName.isEmpty()) {
        chosen.erase(std::remove_if(chosen.begin(), chosen.end(),
                         [&](const QuarantineBatch& batch) { return batch.name != batchName; }),
            chosen.end());
        if (chosen.isEmpty()) {
            report.error = u"There is no batch %1 in %2."_s.arg(batchName, m_quarantine);
            return report;
        }
    }
    Places places;
    if (const QString error = openPlaces(m_folderBytes, m_quarantineBytes, false, &places);
        !error.isEmpty()) {
        report.error = error;
        return report;
    }
    if (!places.quarantine.isOpen()) {
        report.notice = notices.join(u'\n');
        return report;
    }
    const QSet<QByteArray> wanted(paths.cbegin(), paths.cend());
    QSet<QByteArray> matched;
    const int quarantine = places.quarantine.get();
    const dev_t folderVolume = fs::volumeOf(places.folder.get());
    const dev_t parentVolume = fs::volumeOf(places.parent.get());

    for (const QuarantineBatch& batch : std::as_const(chosen)) {
        notices += batch.notices;
        Step step;
        step.out = false;
        step.batch = QFile::encodeName(batch.name);
        step.token = fs::uniqueName({});
        const Fd batchFolder = fs::openBeneath(quarantine, step.batch);
        if (!batchFolder.isOpen())
            continue;
        // A file whose store lies on another volume than its place is copied back.
        const Fd insideStore = fs::openBeneath(batchFolder.get(), places.insideName());
        const Fd besideStore = fs::openBeneath(batchFolder.get(), places.besideName());
        const dev_t insideVolume = insideStore.isOpen() ? fs::volumeOf(insideStore.get()) : folderVolume;
        const dev_t besideVolume = besideStore.isOpen() ? fs::volumeOf(besideStore.get()) : parentVolume;
        for (const QuarantinedFile& file : batch.files) {
            if (!file.out || (!wanted.isEmpty() && !wanted.contains(file.path)))
                continue;
            matched.insert(file.path);
            const bool copy = file.beside ? besideVolume != parentVolume : insideVolume != folderVolume;
            step.entries.append({ file.path, file.beside, copy });
        }
        if (step.entries.isEmpty())
            continue;
        // A folder whose name is taken again in the game folder cannot go back whole.
        if (insideStore.isOpen()) {
            step.entries = withWholeFolders(step.entries,
                wholeFolders(
                    insideStore.get(), renamableInside(step.entries), [&](const QByteArray& relative) {
                        return !fs::existsBeneath(places.folder.get(), relative);
                    }));
        }
        if (const QString error = fs::writeAtomically(quarantine, stepName, stepText(step));
            !error.isEmpty()) {
            report.error = u"cannot record the move in %1: %2"_s.arg(m_quarantine, error);
            return report;
        }
        const MoveReport done = StepRunner(places, step, m_watch).run();
        report.batch = done.batch;
        report.moved += done.moved;
        report.skipped += done.skipped;
        if (!done.error.isEmpty())
            report.skipped.append({ step.batch, done.error });
        if (!done.notice.isEmpty())
            notices.append(done.notice);
        removeBatchIfEmpty(places, step.batch);
        fs::removeAt(quarantine, stepName);
        fs::syncFolder(quarantine);
        if (done.cancelled) {
            report.cancelled = true;
            break;
        }
    }
    for (const QByteArray& path : paths) {
        if (!matched.contains(path) && !report.cancelled)
            report.skipped.append({ path, u"it is not among the files moved out"_s });
    }
    report.notice = notices.join(u'\n');
    fs::removeAt(places.parent.get(), places.quarantineName, true);
    return report;
}

QList<QuarantineBatch> Quarantine::batches() const
{
    QList<QuarantineBatch> list;
    Places places;
    if (!openPlaces(m_folderBytes, m_quarantineBytes, false, &places).isEmpty()
        || !places.quarantine.isOpen())
        return list;
    for (const fs::Entry& entry : fs::entriesOf(places.quarantine.get())) {
        // A batch folder replaced by a link is not followed: it is not Mendwell's.
        if (!entry.folder || !isBatchName(entry.name))
            continue;
        const Fd folder = fs::openBeneath(places.quarantine.get(), entry.name);
        if (!folder.isOpen())
            continue;
        QuarantineBatch batch;
        batch.name = shown(entry.name);
        batch.path = m_quarantine + u'/' + batch.name;
        Manifest manifest;
        const bool hasManifest = readManifest(folder.get(), &manifest);
        batch.notices = manifest.ignored;
        // The files in the batch folder are what is out; the manifest adds how they were.
        QHash<QByteArray, QuarantinedFile> found;
        QList<QByteArray> order;
        for (const bool beside : { false, true }) {
            const QByteArray store = beside ? places.besideName() : places.insideName();
            const Fd storeFolder = fs::openBeneath(folder.get(), store);
            if (!storeFolder.isOpen())
                continue;
            QList<QByteArray> paths;
            QMap<QByteArray, struct stat> stats;
            filesBelow(storeFolder.get(), {}, paths, &stats);
            for (auto it = stats.cbegin(); it != stats.cend(); ++it) {
                const QByteArray& path = it.key();
                const struct stat& st = it.value();
                QuarantinedFile file;
                file.path = path;
                file.beside = beside;
                file.size = st.st_size;
                file.modifiedNs = nanoseconds(st.st_mtim);
                file.mode = st.st_mode;
                file.out = true;
                const QByteArray key = (beside ? "b" : "f") + path;
                found.insert(key, file);
                order.append(key);
            }
        }
        QSet<QByteArray> listed;
        for (QuarantinedFile file : std::as_const(manifest.files)) {
            const QByteArray key = (file.beside ? "b" : "f") + file.path;
            if (listed.contains(key))
                continue;
            listed.insert(key);
            file.out = found.contains(key);
            batch.files.append(file);
        }
        for (const QByteArray& key : std::as_const(order)) {
            if (!listed.contains(key))
                batch.files.append(found.value(key));
        }
        if (!hasManifest && batch.files.isEmpty())
            continue;
        if (!hasManifest && !batch.files.isEmpty())
            batch.notices.append(u"The batch %1 has no readable manifest; its files are listed as they lie "
                                 u"in it."_s.arg(batch.name));
        list.append(batch);
    }
    std::sort(list.begin(), list.end(), [](const QuarantineBatch& a, const QuarantineBatch& b) {
        return batchOrder(a.name) < batchOrder(b.name);
    });
    return list;
}

}
