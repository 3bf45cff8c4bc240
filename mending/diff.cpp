// SPDX-License-Identifier: GPL-3.0-or-later
#include "diff.h"

#include "listfile.h"

#include <sys/stat.h>

#include <QHash>
#include <QSet>

#include <algorithm>

namespace mending {

namespace {

QByteArrayView folderOf(QByteArrayView path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArrayView() : path.first(slash);
}

QByteArrayView nameOf(QByteArrayView path)
{
    return path.sliced(path.lastIndexOf('/') + 1);
}

bool leadsToFile(const QByteArray& path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether a path is one that could not be read, or lies below one of the folders that could not be.
class UnknownFolders
{
public:
    explicit UnknownFolders(const QList<ScanProblem>& problems)
    {
        for (const ScanProblem& problem : problems)
            m_folders.insert(problem.path);
    }

    // A file of a folder that can be listed but not entered is a problem of its own: known by name,
    // not by size or time, so it is unknown too.
    bool covers(const QByteArray& path) const
    {
        if (m_folders.isEmpty())
            return false;
        if (m_folders.contains(QByteArray()) || m_folders.contains(path))
            return true;
        for (qsizetype slash = path.indexOf('/'); slash >= 0; slash = path.indexOf('/', slash + 1)) {
            if (m_folders.contains(path.first(slash)))
                return true;
        }
        return false;
    }

private:
    QSet<QByteArray> m_folders;
};

// A rename keeps the inode, the size and the modification time. The inode alone proves nothing: ext4 hands
// a freed inode to the next file made in the folder, so a mod updated by deleting it and writing a new one
// of the same size often gets its old inode back, and only the time tells it from a move.
struct InodeKey
{
    quint64 device;
    quint64 inode;
    qint64 size;
    qint64 mtimeNs;
    friend bool operator==(const InodeKey&, const InodeKey&) = default;
};
size_t qHash(const InodeKey& key, size_t seed)
{
    return qHashMulti(seed, key.device, key.inode, key.size, key.mtimeNs);
}

struct NameKey
{
    QByteArrayView name;
    qint64 size;
    qint64 mtimeNs;
    friend bool operator==(const NameKey&, const NameKey&) = default;
};
size_t qHash(const NameKey& key, size_t seed)
{
    return qHashMulti(seed, key.name, key.size, key.mtimeNs);
}

// Pairs gone files with found ones under one key; each gone file pairs at most once, in path order.
template <typename Key, typename MakeKey>
void pairMoves(const QList<FileEntry>& before, const QList<FileEntry>& after, QList<qsizetype>& gone,
    QList<qsizetype>& found, QList<std::pair<qsizetype, qsizetype>>& moves, MakeKey makeKey)
{
    if (gone.isEmpty() || found.isEmpty())
        return;
    QHash<Key, QList<qsizetype>> waiting;
    for (qsizetype i = gone.size() - 1; i >= 0; --i)
        waiting[makeKey(before.at(gone.at(i)))].append(gone.at(i));
    QSet<qsizetype> paired;
    QList<qsizetype> unpaired;
    for (qsizetype index : std::as_const(found)) {
        auto it = waiting.find(makeKey(after.at(index)));
        if (it == waiting.end() || it->isEmpty()) {
            unpaired.append(index);
            continue;
        }
        moves.append({ it->takeLast(), index });
        paired.insert(moves.last().first);
    }
    found = unpaired;
    gone.removeIf([&paired](qsizetype index) { return paired.contains(index); });
}

void sortByPath(QList<Change>& changes)
{
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
        return a.kind != b.kind ? int(a.kind) < int(b.kind) : a.path < b.path;
    });
}

// Whether a folder holds a file of the list, at any level. The list is in byte order, so the paths
// below a folder follow each other from the first that is not less than "folder/": a lookup per
// changed file's folder instead of a pass over the whole list.
bool holdsFiles(const QList<FileEntry>& files, const QByteArray& folder)
{
    const QByteArray prefix = folder + '/';
    const auto it = std::lower_bound(files.begin(), files.end(), prefix,
        [](const FileEntry& file, const QByteArray& wanted) { return file.path < wanted; });
    return it != files.end() && it->path.startsWith(prefix);
}

QByteArray foldedStem(QByteArrayView path)
{
    const QByteArrayView name = nameOf(path);
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArrayView stem = dot > 0 ? name.first(dot) : name;
    return folderOf(path).toByteArray() + '/' + stem.toByteArray().toLower();
}

QByteArray stemKey(QByteArrayView path)
{
    const QByteArrayView name = nameOf(path);
    const qsizetype dot = name.lastIndexOf('.');
    return path.first(path.size() - name.size()).toByteArray()
        + (dot > 0 ? name.first(dot) : name).toByteArray() + ".*";
}

}

QByteArray changeKindName(ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::Added:
        return QByteArrayLiteral("added");
    case ChangeKind::Changed:
        return QByteArrayLiteral("changed");
    case ChangeKind::Removed:
        return QByteArrayLiteral("removed");
    case ChangeKind::Moved:
        return QByteArrayLiteral("moved");
    }
    return {};
}

DiffResult diffFiles(
    const QList<FileEntry>& before, const QList<FileEntry>& after, const QList<ScanProblem>& unknownFolders)
{
    DiffResult result;
    result.unknown = unknownFolders;
    const UnknownFolders unknown(unknownFolders);
    QList<qsizetype> gone, found;
    qsizetype i = 0, j = 0;
    while (i < before.size() || j < after.size()) {
        if (j == after.size() || (i < before.size() && before.at(i).path < after.at(j).path)) {
            if (!unknown.covers(before.at(i).path))
                gone.append(i);
            ++i;
        } else if (i == before.size() || after.at(j).path < before.at(i).path) {
            if (!unknown.covers(after.at(j).path))
                found.append(j);
            ++j;
        } else {
            const FileEntry& was = before.at(i);
            const FileEntry& is = after.at(j);
            if (was.size != is.size || was.mtimeNs != is.mtimeNs || was.kind != is.kind)
                result.changes.append({ ChangeKind::Changed, is.path, {}, was, is, 0, false, {} });
            ++i;
            ++j;
        }
    }

    QList<std::pair<qsizetype, qsizetype>> moves;
    pairMoves<InodeKey>(before, after, gone, found, moves, [](const FileEntry& file) {
        return InodeKey { file.device, file.inode, file.size, file.mtimeNs };
    });
    pairMoves<NameKey>(before, after, gone, found, moves, [](const FileEntry& file) {
        return NameKey { nameOf(file.path), file.size, file.mtimeNs };
    });

    for (qsizetype index : std::as_const(found))
        result.changes.append(
            { ChangeKind::Added, after.at(index).path, {}, {}, after.at(index), 0, false, {} });
    for (qsizetype index : std::as_const(gone))
        result.changes.append(
            { ChangeKind::Removed, before.at(index).path, {}, before.at(index), {}, 0, false, {} });
    for (const auto& [was, is] : std::as_const(moves))
        result.changes.append({ ChangeKind::Moved, after.at(is).path, before.at(was).path, before.at(was),
            after.at(is), 0, false, {} });
    sortByPath(result.changes);
    assignGroups(result, before, after);
    return result;
}

DiffResult diffTopLevel(const QList<QByteArray>& names, const QList<FileEntry>& after, const QByteArray& root)
{
    DiffResult result;
    result.topLevelOnly = true;
    const QSet<QByteArray> listed(names.begin(), names.end());
    QSet<QByteArray> present;
    QList<FileEntry> before;
    for (const FileEntry& file : after) {
        // A folder list holds what Brenvale gathers: files at the top, hidden ones left out.
        if (file.path.contains('/') || file.path.startsWith('.'))
            continue;
        // A link counts only where it leads to a file: Brenvale follows links, and leaves out links to
        // folders and links that lead nowhere.
        if (file.kind == FileKind::Symlink && !root.isEmpty() && !leadsToFile(root + '/' + file.path))
            continue;
        present.insert(file.path);
        if (!listed.contains(file.path))
            result.changes.append({ ChangeKind::Added, file.path, {}, {}, file, 0, false, {} });
    }
    for (const QByteArray& name : listed) {
        if (name.startsWith('.'))
            continue;
        FileEntry was;
        was.path = name;
        before.append(was);
        if (!present.contains(name))
            result.changes.append({ ChangeKind::Removed, name, {}, was, {}, 0, false, {} });
    }
    std::sort(
        before.begin(), before.end(), [](const FileEntry& a, const FileEntry& b) { return a.path < b.path; });
    sortByPath(result.changes);
    assignGroups(result, before, after);
    return result;
}

QList<QByteArray> parseFolderList(QByteArrayView bytes)
{
    if (const QString fault = folderListFault(bytes); !fault.isEmpty())
        throw Failure(QStringLiteral("neither a Mendwell snapshot nor a folder list (%1)").arg(fault));
    const ListLines lines = splitListLines(bytes);
    QList<QByteArray> names;
    names.reserve(qsizetype(lines.size()));
    for (const ListLine& line : lines)
        names.append(QByteArray(bytes.data() + line.start, line.length));
    return names;
}

void assignGroups(DiffResult& result, const QList<FileEntry>& before, const QList<FileEntry>& after)
{
    // Keys are kept apart for the two sides: files gone never share a group with files that came.
    QHash<QByteArray, int> bySide[2];
    result.groups.clear();
    for (qsizetype index = 0; index < result.changes.size(); ++index) {
        Change& change = result.changes[index];
        const bool gone = change.kind == ChangeKind::Removed;
        const QList<FileEntry>& otherSide = gone ? after : before;
        Group group;
        QByteArray lookup;
        for (qsizetype slash = change.path.indexOf('/'); slash >= 0;
             slash = change.path.indexOf('/', slash + 1)) {
            const QByteArray folder = change.path.first(slash);
            if (!holdsFiles(otherSide, folder)) {
                group.kind = GroupKind::NewFolder;
                group.key = folder + '/';
                lookup = group.key;
                break;
            }
        }
        if (lookup.isEmpty()) {
            group.kind = GroupKind::SharedStem;
            group.key = stemKey(change.path);
            lookup = foldedStem(change.path);
        }
        auto it = bySide[gone].find(lookup);
        if (it == bySide[gone].end()) {
            it = bySide[gone].insert(lookup, int(result.groups.size()));
            result.groups.append(group);
        }
        change.group = it.value();
        result.groups[it.value()].changes.append(index);
    }
    for (Group& group : result.groups) {
        if (group.kind == GroupKind::SharedStem && group.changes.size() == 1) {
            group.kind = GroupKind::Single;
            group.key = result.changes.at(group.changes.first()).path;
        }
    }
}

void flagSuspects(DiffResult& result, const QByteArray& root, const QList<FileEntry>& after)
{
    QList<qsizetype> which, changeOf;
    for (qsizetype index = 0; index < result.changes.size(); ++index) {
        const Change& change = result.changes.at(index);
        if (change.kind == ChangeKind::Removed) {
            result.changes[index].noise = isNoise(change.path);
            continue;
        }
        const auto it = std::lower_bound(after.begin(), after.end(), change.path,
            [](const FileEntry& file, const QByteArray& path) { return file.path < path; });
        if (it == after.end() || it->path != change.path)
            continue;
        which.append(it - after.begin());
        changeOf.append(index);
    }
    if (which.isEmpty())
        return;
    const CheckReport report = checkFiles(root, after, which, DuplicateScope::CheckedFiles);
    QHash<qsizetype, qsizetype> changeAt;
    for (qsizetype k = 0; k < which.size(); ++k)
        changeAt.insert(which.at(k), changeOf.at(k));
    for (const CheckedFile& checked : report.suspects)
        result.changes[changeAt.value(checked.index)].flags = checked.flags;
    for (qsizetype index : report.noise)
        result.changes[changeAt.value(index)].noise = true;
}

}
