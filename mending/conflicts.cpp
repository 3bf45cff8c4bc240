// SPDX-License-Identifier: GPL-3.0-or-later
#include "conflicts.h"

#include "cores.h"
#include "dbpf.h"
#include "games.h"
#include "pathtext.h"
#include "scan.h"

#include <QHash>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <bit>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace mending {

namespace {

// One index entry, kept small: a million of them take 20 MB. The instance is split in two words so
// that the record has no padding.
struct Record
{
    quint32 type;
    quint32 group;
    quint32 instanceHigh;
    quint32 instanceLow;
    quint32 package; // the package's number among those read

    auto key() const { return std::tie(type, group, instanceHigh, instanceLow); }
};
static_assert(sizeof(Record) == 20);

// By key (as two numbers, compared at once), then package: sorting a million records is a large
// part of the work.
struct Order
{
    static std::pair<quint64, quint64> keyOf(const Record& r)
    {
        return { (quint64(r.type) << 32) | r.group, (quint64(r.instanceHigh) << 32) | r.instanceLow };
    }
    bool operator()(const Record& a, const Record& b) const
    {
        const auto x = keyOf(a), y = keyOf(b);
        return x != y ? x < y : a.package < b.package;
    }
};

// The packages the game loads: regular files named *.package in its mods folder, no deeper than it reads.
QList<qsizetype> packagesOf(const QByteArray& root, const QList<FileEntry>& files, const GameRules& rules)
{
    const QByteArray prefix = modsFolderWithin(root, files, rules);
    const qsizetype prefixDepth = prefix.count('/');
    QList<qsizetype> packages;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const FileEntry& file = files.at(i);
        if (file.kind != FileKind::Regular || !hasExtension(file.path, ".package"))
            continue;
        if (!file.path.startsWith(prefix))
            continue;
        const qsizetype depth = file.path.count('/') - prefixDepth;
        if (rules.deepestPackage >= 0 && depth > rules.deepestPackage)
            continue;
        packages.append(i);
    }
    return packages;
}

// Records are grouped by key, not sorted as a whole: of a million records, sorting a few thousand at a
// time in the cache is several times faster. A key's bucket comes from all of its bits, so that keys
// of one type spread as well as keys of many.
constexpr size_t bucketCount = 256;

quint64 keyHash(const Record& r)
{
    const quint64 mixed = ((quint64(r.type) << 32) | r.group)
        ^ std::rotl((quint64(r.instanceHigh) << 32) | r.instanceLow, 29);
    return mixed * 0x9E3779B97F4A7C15ull;
}

size_t bucketOf(const Record& r)
{
    return size_t(keyHash(r) >> 56);
}

// Reorders records bucket by bucket; gives where each bucket starts, and the end.
std::vector<size_t> spreadOverBuckets(std::vector<Record>& records)
{
    std::vector<size_t> starts(bucketCount + 1, 0);
    for (const Record& record : records)
        ++starts[bucketOf(record) + 1];
    for (size_t b = 1; b <= bucketCount; ++b)
        starts[b] += starts[b - 1];
    std::vector<size_t> next(starts.begin(), starts.end() - 1);
    std::vector<Record> spread(records.size());
    for (const Record& record : records)
        spread[next[bucketOf(record)]++] = record;
    records.swap(spread);
    return starts;
}

// Keeps the records whose key another record has too, in their order. Most keys are held once: a
// table in the cache finds the few that are not, and only those are sorted.
void keepShared(std::vector<Record>& records, size_t from, std::vector<qint32>& table)
{
    const size_t count = records.size() - from;
    const size_t places = std::bit_ceil(std::max<size_t>(16, count * 2));
    table.assign(places, -1);
    std::vector<bool> shared(count, false);
    for (size_t i = 0; i < count; ++i) {
        const Record& record = records[from + i];
        for (size_t slot = size_t(keyHash(record)) & (places - 1);; slot = (slot + 1) & (places - 1)) {
            if (table[slot] < 0) {
                table[slot] = qint32(i);
                break;
            }
            if (records[from + size_t(table[slot])].key() == record.key()) {
                shared[i] = true;
                shared[size_t(table[slot])] = true;
                break;
            }
        }
    }
    size_t kept = from;
    for (size_t i = 0; i < count; ++i) {
        if (shared[i])
            records[kept++] = records[from + i];
    }
    records.resize(kept);
}

struct Reading
{
    std::vector<Record> records;
    std::vector<size_t> bucketStarts; // where each bucket of records starts, and where the last ends
    qint64 packages = 0;
    qint64 resources = 0;
    QList<std::pair<quint32, PackageTrouble>> damaged, notRead; // by package number, to be sorted
    QList<std::pair<quint32, ScanProblem>> unreadable;
};

// Gathers the parts' buckets one bucket at a time and sorts each by Order, on every core: equal keys
// end side by side, each key's records in package order. With sharedOnly, only the records of keys
// held more than once are kept.
std::vector<Record> sortedBuckets(std::vector<Reading>& parts, bool sharedOnly)
{
    const size_t threads = parts.size();
    std::vector<std::vector<Record>> done(threads);
    onThreads(int(threads), [&](int i) {
        const size_t thread = size_t(i);
        const size_t first = bucketCount * thread / threads, last = bucketCount * (thread + 1) / threads;
        std::vector<Record>& out = done[thread];
        std::vector<qint32> table;
        for (size_t b = first; b < last; ++b) {
            const size_t from = out.size();
            for (const Reading& part : parts)
                out.insert(out.end(), part.records.begin() + qsizetype(part.bucketStarts[b]),
                    part.records.begin() + qsizetype(part.bucketStarts[b + 1]));
            if (sharedOnly)
                keepShared(out, from, table);
            std::sort(out.begin() + qsizetype(from), out.end(), Order());
        }
    });
    for (Reading& part : parts)
        std::vector<Record>().swap(part.records);
    std::vector<Record> records = std::move(done[0]);
    for (size_t i = 1; i < threads; ++i)
        records.insert(records.end(), done[i].begin(), done[i].end());
    return records;
}

// Reads the indexes of paths[first..] in threads; a package's number is its place in paths. With keep
// given, only the records whose key it holds (sorted) are kept; with sharedOnly, only those whose key
// more than one record has.
Reading readIndexes(int rootFd, const QList<QByteArray>& paths, const QList<qint64>& sizes, quint32 first,
    int threads, bool sharedOnly, const std::vector<Record>* keep = nullptr)
{
    if (threads <= 0)
        threads = coreCount();
    std::vector<Reading> parts(static_cast<size_t>(threads));
    std::atomic<qsizetype> next { first };
    auto work = [&](Reading& part) {
        // The packages of a folder come one after the other: its folder stays open while they are read.
        QByteArray openFolder;
        int folderFd = -1;
        auto readBelow = [&](const QByteArray& path, qint64 size) {
            const qsizetype slash = path.lastIndexOf('/');
            const QByteArrayView folder = slash < 0 ? QByteArrayView() : QByteArrayView(path).first(slash);
            if (folderFd < 0 || folder != openFolder) {
                if (folderFd >= 0)
                    ::close(folderFd);
                openFolder = folder.toByteArray();
                folderFd = openBelow(rootFd, openFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            }
            if (folderFd < 0)
                return readPackageIndex(rootFd, path, size);
            return readPackageIndex(folderFd, path.sliced(slash + 1), size);
        };
        auto closeFolder = qScopeGuard([&folderFd] {
            if (folderFd >= 0)
                ::close(folderFd);
        });
        constexpr qsizetype batch = 16;
        for (;;) {
            const qsizetype start = next.fetch_add(batch);
            if (start >= paths.size())
                return;
            for (qsizetype number = start; number < std::min(start + batch, paths.size()); ++number) {
                const PackageIndex index = readBelow(paths.at(number), sizes.at(number));
                const quint32 package = quint32(number);
                switch (index.state) {
                case PackageState::Read:
                    break;
                case PackageState::NotPackage: // check names these
                    continue;
                case PackageState::NotRead:
                    part.notRead.append({ package, { paths.at(number), index.problem } });
                    continue;
                case PackageState::Damaged:
                    part.damaged.append({ package, { paths.at(number), index.problem } });
                    continue;
                case PackageState::Unreadable:
                    part.unreadable.append({ package, { paths.at(number), index.problem.toUtf8() } });
                    continue;
                }
                ++part.packages;
                part.resources += index.entries.size();
                for (const IndexEntry& entry : index.entries) {
                    const Record record { entry.key.type, entry.key.group, quint32(entry.key.instance >> 32),
                        quint32(entry.key.instance), package };
                    if (keep
                        && !std::binary_search(keep->begin(), keep->end(), record,
                            [](const Record& a, const Record& b) { return a.key() < b.key(); }))
                        continue;
                    part.records.push_back(record);
                }
            }
        }
    };
    // Each thread spreads what it read over buckets by key; the buckets are then sorted on every core.
    onThreads(threads, [&](int i) {
        Reading& part = parts[size_t(i)];
        work(part);
        part.bucketStarts = spreadOverBuckets(part.records);
    });

    Reading all;
    all.records = sortedBuckets(parts, sharedOnly);
    for (Reading& part : parts) {
        all.packages += part.packages;
        all.resources += part.resources;
        all.damaged += part.damaged;
        all.notRead += part.notRead;
        all.unreadable += part.unreadable;
    }
    return all;
}

template <typename T> QList<T> inPackageOrder(QList<std::pair<quint32, T>> numbered)
{
    std::sort(
        numbered.begin(), numbered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<T> ordered;
    for (auto& [number, item] : numbered)
        ordered.append(std::move(item));
    return ordered;
}

// The Sims 2 loads the packages of a folder in alphabetical order, and of two that hold one resource
// the one loaded last wins (simswiki.info, "Load Order"). Across folders, and for the later games, no
// public source settles the order.
qsizetype usedPackage(const QList<QByteArray>& packages, const GameRules& rules)
{
    if (rules.generation != 2)
        return -1;
    auto folderOf
        = [](const QByteArray& path) { return path.first(std::max<qsizetype>(0, path.lastIndexOf('/'))); };
    const QByteArray folder = folderOf(packages.first());
    qsizetype last = 0;
    for (qsizetype i = 0; i < packages.size(); ++i) {
        if (folderOf(packages.at(i)) != folder)
            return -1;
        if (packages.at(i).toLower() > packages.at(last).toLower())
            last = i;
    }
    return last;
}

// Makes one conflict of every set of packages that share resources, from records whose equal keys
// stand side by side, each key's in package order.
QList<Conflict> conflictsOf(
    const std::vector<Record>& records, const QList<QByteArray>& paths, const GameRules& rules)
{
    QHash<QByteArray, qsizetype> setIndex;
    QList<Conflict> conflicts;
    std::vector<quint32> set;
    for (size_t start = 0; start < records.size();) {
        size_t end = start + 1;
        set.assign(1, records[start].package);
        while (end < records.size() && records[end].key() == records[start].key()) {
            if (records[end].package != set.back())
                set.push_back(records[end].package);
            ++end;
        }
        const quint32 type = records[start].type;
        start = end;
        if (set.size() < 2)
            continue;
        const QByteArray setKey(
            reinterpret_cast<const char*>(set.data()), qsizetype(set.size() * sizeof(quint32)));
        auto it = setIndex.find(setKey);
        if (it == setIndex.end()) {
            Conflict conflict;
            for (quint32 package : set)
                conflict.packages.append(paths.at(package));
            it = setIndex.insert(setKey, conflicts.size());
            conflicts.append(conflict);
        }
        Conflict& conflict = conflicts[*it];
        ++conflict.shared;
        auto kind = std::find_if(conflict.kinds.begin(), conflict.kinds.end(),
            [type](const auto& counted) { return counted.first == type; });
        if (kind == conflict.kinds.end())
            conflict.kinds.append({ type, 1 });
        else
            ++kind->second;
    }
    for (Conflict& conflict : conflicts) {
        std::sort(conflict.kinds.begin(), conflict.kinds.end(), [](const auto& a, const auto& b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        });
        for (const auto& [type, count] : std::as_const(conflict.kinds))
            conflict.severity = std::max(conflict.severity, clashSeverity(type));
        conflict.used = usedPackage(conflict.packages, rules);
    }
    std::sort(conflicts.begin(), conflicts.end(), [](const Conflict& a, const Conflict& b) {
        if (a.severity != b.severity)
            return a.severity > b.severity;
        if (a.shared != b.shared)
            return a.shared > b.shared;
        return a.packages < b.packages;
    });
    return conflicts;
}

class FolderFd
{
public:
    explicit FolderFd(const QByteArray& root)
        : m_fd(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd < 0)
            throw Failure(QStringLiteral("%1 cannot be opened: %2").arg(displayPath(root), errorText(errno)));
    }
    ~FolderFd() { ::close(m_fd); }
    FolderFd(const FolderFd&) = delete;
    FolderFd& operator=(const FolderFd&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

}

QString describeKinds(const QList<std::pair<quint32, qint64>>& kinds)
{
    QStringList parts;
    for (const auto& [type, count] : kinds)
        parts.append(QStringLiteral("%1 %2").arg(resourceTypeName(type)).arg(count));
    return parts.join(QStringLiteral(", "));
}

ConflictReport findConflicts(
    const QByteArray& root, const QList<FileEntry>& files, int generation, int threads)
{
    const GameRules& rules = rulesOfFolder(root, generation);
    QList<QByteArray> paths;
    QList<qint64> sizes;
    for (qsizetype index : packagesOf(root, files, rules)) {
        paths.append(files.at(index).path);
        sizes.append(files.at(index).size);
    }
    const FolderFd folder(root);
    Reading reading = readIndexes(folder.fd(), paths, sizes, 0, threads, true);

    ConflictReport report;
    report.packages = reading.packages;
    report.resources = reading.resources;
    report.damaged = inPackageOrder(std::move(reading.damaged));
    report.notRead = inPackageOrder(std::move(reading.notRead));
    report.unreadable = inPackageOrder(std::move(reading.unreadable));
    report.conflicts = conflictsOf(reading.records, paths, rules);
    return report;
}

void noteClashes(DiffResult& result, const QByteArray& root, const QList<FileEntry>& after, int generation)
{
    // Marked by their place in the list of files (sorted by path), which a handful of changes find
    // at once: asking a set for each of a hundred thousand paths would cost more than the rest.
    std::vector<bool> changed(size_t(after.size()), false);
    for (const Change& change : std::as_const(result.changes)) {
        // A moved package brings no clash that was not there before.
        if (change.kind != ChangeKind::Added && change.kind != ChangeKind::Changed)
            continue;
        const auto it = std::lower_bound(after.begin(), after.end(), change.path,
            [](const FileEntry& file, const QByteArray& path) { return file.path < path; });
        if (it != after.end() && it->path == change.path)
            changed[size_t(it - after.begin())] = true;
    }
    const GameRules& rules = rulesOfFolder(root, generation);
    // The new packages first, so that the others can be read against their keys alone; the others
    // are listed only when a new package holds a resource.
    QList<QByteArray> paths;
    QList<qint64> sizes;
    const QList<qsizetype> packages = packagesOf(root, after, rules);
    const auto listPackages = [&](bool isNew) {
        for (qsizetype index : packages) {
            if (changed[size_t(index)] == isNew) {
                paths.append(after.at(index).path);
                sizes.append(after.at(index).size);
            }
        }
    };
    listPackages(true);
    const quint32 newCount = quint32(paths.size());
    if (newCount == 0)
        return;
    const FolderFd folder(root);
    Reading fresh = readIndexes(folder.fd(), paths, sizes, 0, 0, false);
    if (fresh.records.empty())
        return;
    listPackages(false);
    std::vector<Record> keys = fresh.records;
    std::sort(keys.begin(), keys.end(), [](const Record& a, const Record& b) { return a.key() < b.key(); });
    Reading others = readIndexes(folder.fd(), paths, sizes, newCount, 0, false, &keys);
    fresh.records.insert(fresh.records.end(), others.records.begin(), others.records.end());
    std::sort(fresh.records.begin(), fresh.records.end(), Order());

    const QSet<QByteArray> isNew(paths.cbegin(), paths.cbegin() + newCount);
    for (const Conflict& conflict : conflictsOf(fresh.records, paths, rules)) {
        const QString kinds = describeKinds(conflict.kinds);
        for (const QByteArray& path : conflict.packages) {
            if (!isNew.contains(path))
                continue;
            for (const QByteArray& other : conflict.packages) {
                // Two new packages that clash are named once.
                if (other == path || (isNew.contains(other) && other < path))
                    continue;
                result.clashes.append({ path, other, conflict.shared, conflict.severity, kinds });
            }
        }
    }
    std::stable_sort(
        result.clashes.begin(), result.clashes.end(), [](const ClashNote& a, const ClashNote& b) {
            return a.severity != b.severity ? a.severity > b.severity : a.path < b.path;
        });
}

}
