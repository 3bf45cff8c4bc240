// SPDX-License-Identifier: GPL-3.0-or-later
#include "suspects.h"

#include "cores.h"
#include "filesystem.h"
#include "games.h"
#include "pathtext.h"
#include "scan.h"
#include "scriptmods.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>
#include <optional>

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>
#include <zip.h>

namespace mending {

namespace {

QByteArray extensionOf(QByteArrayView path)
{
    const QByteArrayView name = path.sliced(path.lastIndexOf('/') + 1);
    const qsizetype dot = name.lastIndexOf('.');
    return dot < 0 ? QByteArray() : name.sliced(dot + 1).toByteArray().toLower();
}

bool isTrayFile(const QByteArray& extension)
{
    static const QSet<QByteArray> tray { "trayitem", "blueprint", "bpi", "householdbinary", "hhi", "sgi",
        "room", "rmi" };
    return tray.contains(extension);
}

bool isArchive(const QByteArray& extension)
{
    return extension == "zip" || extension == "rar" || extension == "7z";
}

// "Name (1).package" -> "Name.package"; empty when the name is not of that shape.
QByteArray browserOriginal(QByteArrayView path)
{
    const qsizetype nameStart = path.lastIndexOf('/') + 1;
    const QByteArrayView name = path.sliced(nameStart);
    qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0)
        dot = name.size();
    const QByteArrayView stem = name.first(dot);
    if (!stem.endsWith(')'))
        return {};
    const qsizetype open = stem.lastIndexOf(" (");
    if (open <= 0 || open + 3 > stem.size() - 1)
        return {};
    for (qsizetype i = open + 2; i < stem.size() - 1; ++i) {
        if (stem.at(i) < '0' || stem.at(i) > '9')
            return {};
    }
    return path.first(nameStart).toByteArray() + stem.first(open).toByteArray()
        + name.sliced(dot).toByteArray();
}

bool contains(const QList<FileEntry>& files, const QByteArray& path)
{
    const auto it = std::lower_bound(files.begin(), files.end(), path,
        [](const FileEntry& file, const QByteArray& wanted) { return file.path < wanted; });
    return it != files.end() && it->path == path;
}

QString quoted(const QByteArray& path)
{
    return QLatin1Char('"') + displayPath(path) + QLatin1Char('"');
}

class ContentReader
{
public:
    explicit ContentReader(const QByteArray& root)
        : m_rootFd(root.isEmpty() ? -1 : ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    { }
    ~ContentReader()
    {
        if (m_rootFd >= 0)
            ::close(m_rootFd);
    }
    ContentReader(const ContentReader&) = delete;
    ContentReader& operator=(const ContentReader&) = delete;

    bool canRead() const { return m_rootFd >= 0; }

    // The first bytes of a file (fewer where it is shorter); -1, with the reason noted, when it cannot be
    // read.
    qsizetype head(const QByteArray& path, char* buffer, qsizetype wanted, QList<ScanProblem>& problems)
    {
        const auto known = m_heads.constFind(path);
        if (known != m_heads.constEnd() && (known->size() >= wanted || known->size() < headSize)) {
            const qsizetype got = std::min(wanted, known->size());
            std::memcpy(buffer, known->constData(), size_t(got));
            return got;
        }
        const int fd = openBelow(m_rootFd, path, O_RDONLY | O_NOFOLLOW);
        if (fd < 0) {
            problems.append({ path, errorText(errno).toUtf8() });
            return -1;
        }
        qsizetype got = 0;
        while (got < wanted) {
            const ssize_t n = ::read(fd, buffer + got, size_t(wanted - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        ::close(fd);
        return got;
    }

    int rootFd() const { return m_rootFd; }

    // Heads read elsewhere (on other threads), so that head() need not open those files again.
    void remember(const QByteArray& path, const QByteArray& head) { m_heads.insert(path, head); }
    bool knows(const QByteArray& path) const { return m_heads.contains(path); }

    // What keeps the game from loading a script mod: the game opens it as Python opens a ZIP archive of
    // modules, by its table of contents, and reads only stored or deflated files without a password.
    std::optional<SuspectFlag> scriptFault(
        const QByteArray& path, QByteArrayView start, QList<ScanProblem>& problems)
    {
        const bool zipStart
            = start == QByteArrayView("PK\x03\x04", 4) || start == QByteArrayView("PK\x05\x06", 4);
        if (!zipStart) {
            return SuspectFlag { Suspect::ScriptNotZip,
                QStringLiteral(
                    "not a working .ts4script: a script mod is a ZIP archive, and this file is none") };
        }
        const int fd = openBelow(m_rootFd, path, O_RDONLY | O_NOFOLLOW);
        if (fd < 0) {
            problems.append({ path, errorText(errno).toUtf8() });
            return std::nullopt;
        }
        int error = 0;
        zip_t* archive = ::zip_fdopen(fd, ZIP_RDONLY | ZIP_CHECKCONS, &error);
        if (!archive) {
            ::close(fd);
            return SuspectFlag { Suspect::ScriptUnloadable,
                QStringLiteral("a damaged .ts4script: its list of contents is missing or broken, as in a "
                               "download cut short, so the game cannot open it") };
        }
        std::optional<SuspectFlag> fault;
        const zip_int64_t count = ::zip_get_num_entries(archive, 0);
        bool modules = false;
        for (zip_int64_t i = 0; i < count && !fault; ++i) {
            zip_stat_t st;
            if (::zip_stat_index(archive, zip_uint64_t(i), 0, &st) != 0)
                continue;
            const QByteArray name(st.name);
            if (name.endsWith(".pyc") || name.endsWith(".py"))
                modules = true;
            if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
                fault = SuspectFlag { Suspect::ScriptUnloadable,
                    QStringLiteral(
                        "a .ts4script with a file locked by a password (%1): the game cannot read it")
                        .arg(quoted(name)) };
            } else if ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method != ZIP_CM_STORE
                && st.comp_method != ZIP_CM_DEFLATE) {
                fault = SuspectFlag { Suspect::ScriptUnloadable,
                    QStringLiteral("a .ts4script packed in a way the game cannot read (%1 is compressed with "
                                   "another method than the usual one)")
                        .arg(quoted(name)) };
            }
        }
        ::zip_discard(archive);
        if (!fault && count == 0) {
            fault = SuspectFlag { Suspect::ScriptUnloadable,
                QStringLiteral(
                    "an empty .ts4script: the archive holds no files, so the game loads nothing from it") };
        } else if (!fault && !modules) {
            fault = SuspectFlag { Suspect::ScriptUnloadable,
                QStringLiteral(
                    "a .ts4script without Python modules (.pyc or .py files): the game loads nothing "
                    "from it") };
        }
        return fault;
    }

    static constexpr qsizetype headSize = 4;

private:
    int m_rootFd;
    QHash<QByteArray, QByteArray> m_heads;
};

// Where a check judges files, and by which game's rules.
struct CheckPlace
{
    const GameRules& rules;
    QByteArray mods; // the mods folder as a prefix of the files' paths; empty when root is that folder
    QByteArray modsName; // its own name: "Mods", "Packages"
    // A mods folder unpacked into itself ("Mods/Mods", a common unzip mistake).
    QByteArray doubled;

    // Only the mods folder holds what the game loads: saves, screenshots, the gallery and the caches
    // around it are never advice material.
    bool inMods(const QByteArray& path) const { return mods.isEmpty() || path.startsWith(mods); }
};

CheckPlace checkPlace(const QByteArray& root, const QList<FileEntry>& files, int generation)
{
    const GameRules& rules = rulesOfFolder(root, generation);
    const QByteArray mods = modsFolderWithin(root, files, rules);
    const QByteArray modsName = rules.modsFolder.mid(rules.modsFolder.lastIndexOf('/') + 1);
    return { rules, mods, modsName, mods + modsName + '/' };
}

// Script mods that provide the same module, or modules for another Python. Every script mod the game
// loads is read, not only those checked: a new mod clashes with one that was there before. Files that
// cannot be read are named by the load check already.
void flagScriptMods(const QByteArray& root, const QList<FileEntry>& files, const CheckPlace& place,
    QHash<qsizetype, QList<SuspectFlag>>& flags, const QSet<qsizetype>& checked)
{
    QList<qsizetype> loaded;
    const qsizetype modsDepth = place.mods.count('/');
    for (qsizetype i = 0; i < files.size(); ++i) {
        const FileEntry& file = files.at(i);
        if (file.kind != FileKind::Regular || file.size <= 0 || !hasExtension(file.path, ".ts4script")
            || !file.path.startsWith(place.mods))
            continue;
        const qsizetype depth = file.path.count('/') - modsDepth;
        if (place.rules.deepestScript < 0 || depth <= place.rules.deepestScript)
            loaded.append(i);
    }
    if (loaded.isEmpty())
        return;
    QList<ScanProblem> named;
    const QHash<qsizetype, QList<SuspectFlag>> found
        = scriptModFlags(readScriptMods(root, files, loaded, named));
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        if (checked.contains(loaded.at(it.key())))
            flags[loaded.at(it.key())] += *it;
    }
}

QList<qsizetype> everyIndex(qsizetype count)
{
    QList<qsizetype> indexes(count);
    std::iota(indexes.begin(), indexes.end(), qsizetype(0));
    return indexes;
}

// Only files of one size can be equal, so only those are read and hashed. Within one size, a browser's
// second download comes after the file it copies, so it is the one flagged.
QList<qsizetype> duplicateCandidates(const QList<FileEntry>& files, const QList<qsizetype>& chosen,
    DuplicateScope scope, const CheckPlace& place)
{
    QList<qsizetype> candidates;
    for (qsizetype index : scope == DuplicateScope::AllFiles ? everyIndex(files.size()) : chosen) {
        const FileEntry& file = files.at(index);
        if (file.kind == FileKind::Regular && file.size > 0 && !isNoise(file.path) && place.inMods(file.path))
            candidates.append(index);
    }
    QSet<qsizetype> copies;
    for (qsizetype index : std::as_const(candidates)) {
        if (!browserOriginal(files.at(index).path).isEmpty())
            copies.insert(index);
    }
    std::sort(candidates.begin(), candidates.end(), [&files, &copies](qsizetype a, qsizetype b) {
        if (files.at(a).size != files.at(b).size)
            return files.at(a).size < files.at(b).size;
        if (copies.contains(a) != copies.contains(b))
            return copies.contains(b);
        return a < b;
    });
    return candidates;
}

// What one thread found; merged when all are done.
struct Found
{
    QHash<qsizetype, QList<SuspectFlag>> flags;
    QList<std::pair<qsizetype, ScanProblem>> unreadable; // by place among the candidates
    QList<std::pair<QByteArray, QByteArray>> heads; // path, first bytes
};

// The hash of a file's first bytes (all of a small file), and its head. Files of one size that
// differ almost always differ there; the few that agree are compared byte for byte.
constexpr qsizetype quickHashBytes = 4096;

bool quickHash(int rootFd, const QByteArray& path, quint64& value, QByteArray& head, QString& problem)
{
    const fs::Fd fd(openBelow(rootFd, path, O_RDONLY | O_NOFOLLOW));
    char buffer[quickHashBytes];
    const ssize_t got = fd.isOpen() ? fs::readFully(fd.get(), buffer, sizeof buffer) : -1;
    if (got < 0) {
        problem = errorText(errno);
        return false;
    }
    value = XXH3_64bits(buffer, size_t(got));
    head = QByteArray(buffer, std::min<qsizetype>(got, ContentReader::headSize));
    return true;
}

// Flags each checked file that holds the bytes of one before it among the candidates of one size
// (first..last among them).
void flagDuplicatesOfOneSize(int rootFd, const QList<FileEntry>& files, const QList<qsizetype>& candidates,
    qsizetype first, qsizetype last, const QSet<qsizetype>& checked, Found& found)
{
    // By quick hash, the files whose bytes are unlike every other's before them.
    QHash<quint64, QList<qsizetype>> unlike;
    for (qsizetype at = first; at < last; ++at) {
        const qsizetype index = candidates.at(at);
        const QByteArray& path = files.at(index).path;
        quint64 hash = 0;
        QByteArray head;
        QString problem;
        if (!quickHash(rootFd, path, hash, head, problem)) {
            found.unreadable.append({ at, { path, problem.toUtf8() } });
            continue;
        }
        found.heads.append({ path, head });
        // Files not checked are compared as well: one unlike those before it may be what a later,
        // checked file copies.
        QList<qsizetype>& known = unlike[hash];
        const auto same = std::find_if(known.cbegin(), known.cend(),
            [&](qsizetype earlier) { return fs::sameBytes(rootFd, files.at(earlier).path, rootFd, path); });
        if (same == known.cend()) {
            known.append(index);
            continue;
        }
        if (checked.contains(index))
            found.flags[index].append({ Suspect::Duplicate,
                QStringLiteral("the same bytes as %1: one copy is enough")
                    .arg(quoted(files.at(*same).path)) });
    }
}

// Candidates come sorted by size: each run of one size is compared within itself. The runs are shared
// out among the cores, each reading its own files.
void flagDuplicates(const QList<FileEntry>& files, const QList<qsizetype>& candidates,
    const QSet<qsizetype>& checked, ContentReader& reader, QHash<qsizetype, QList<SuspectFlag>>& flags,
    QList<ScanProblem>& unreadable)
{
    QList<std::pair<qsizetype, qsizetype>> runs;
    for (qsizetype start = 0; start < candidates.size();) {
        const qint64 size = files.at(candidates.at(start)).size;
        qsizetype end = start + 1;
        while (end < candidates.size() && files.at(candidates.at(end)).size == size)
            ++end;
        if (end - start > 1)
            runs.append({ start, end });
        start = end;
    }
    std::vector<Found> found(static_cast<size_t>(coreCount()));
    std::atomic<qsizetype> next { 0 };
    onThreads(coreCount(), [&](int i) {
        for (qsizetype run = next++; run < runs.size(); run = next++)
            flagDuplicatesOfOneSize(reader.rootFd(), files, candidates, runs.at(run).first,
                runs.at(run).second, checked, found[size_t(i)]);
    });
    QList<std::pair<qsizetype, ScanProblem>> problems;
    for (Found& part : found) {
        for (auto it = part.flags.begin(); it != part.flags.end(); ++it)
            flags[it.key()] += it.value();
        problems += part.unreadable;
        for (const auto& [path, head] : std::as_const(part.heads))
            reader.remember(path, head);
    }
    std::sort(
        problems.begin(), problems.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [at, problem] : problems)
        unreadable.append(std::move(problem));
}

// Reads, on every core, the heads of the files whose first bytes the checks will ask for. A file that
// cannot be read is left to the check, which names it.
void readHeadsAhead(ContentReader& reader, const QList<FileEntry>& files, const QList<qsizetype>& which)
{
    QList<const QByteArray*> paths;
    for (qsizetype index : which) {
        const FileEntry& file = files.at(index);
        if (file.kind == FileKind::Regular && file.size > 0
            && (hasExtension(file.path, ".package") || hasExtension(file.path, ".ts4script"))
            && !reader.knows(file.path))
            paths.append(&file.path);
    }
    std::vector<QList<std::pair<QByteArray, QByteArray>>> heads(static_cast<size_t>(coreCount()));
    std::atomic<qsizetype> next { 0 };
    onThreads(coreCount(), [&](int i) {
        for (qsizetype at = next++; at < paths.size(); at = next++) {
            const fs::Fd fd(openBelow(reader.rootFd(), *paths.at(at), O_RDONLY | O_NOFOLLOW));
            char head[ContentReader::headSize];
            const ssize_t got = fd.isOpen() ? fs::readFully(fd.get(), head, sizeof head) : -1;
            if (got >= 0)
                heads[size_t(i)].append({ *paths.at(at), QByteArray(head, got) });
        }
    });
    for (const auto& part : heads) {
        for (const auto& [path, head] : part)
            reader.remember(path, head);
    }
}

// What the first bytes of a loaded file tell: a .package without its header, a script the game cannot load.
std::optional<SuspectFlag> contentFault(
    const FileEntry& file, const QByteArray& extension, ContentReader& reader, QList<ScanProblem>& unreadable)
{
    char head[4] = {};
    const qsizetype got = reader.head(file.path, head, 4, unreadable);
    if (got < 0)
        return std::nullopt;
    const QByteArrayView start(head, got);
    if (extension == "package" && start != "DBPF") {
        return SuspectFlag { Suspect::NoPackageHeader,
            QStringLiteral(
                "not a working .package: it does not start with the DBPF header every package has") };
    }
    if (extension == "ts4script")
        return reader.scriptFault(file.path, start, unreadable);
    return std::nullopt;
}

std::optional<SuspectFlag> depthFault(
    const FileEntry& file, const QByteArray& extension, const CheckPlace& place)
{
    const GameRules& rules = place.rules;
    const int deepest = extension == "package" ? rules.deepestPackage
        : extension == "ts4script"             ? rules.deepestScript
                                               : -1;
    const qsizetype depth = file.path.count('/') - place.mods.count('/');
    if (deepest < 0 || depth <= deepest)
        return std::nullopt;
    const QString limit
        = deepest == 1 ? QStringLiteral("1 folder") : QStringLiteral("%1 folders").arg(deepest);
    return SuspectFlag { Suspect::TooDeep,
        QStringLiteral("too deep: %1 reads .%2 files at most %3 below %4, this one is %5 below")
            .arg(rules.title, QString::fromLatin1(extension), limit, QString::fromUtf8(place.modsName))
            .arg(depth) };
}

// What a file's name, size and place tell, and its first bytes where they can be read; duplicates apart.
QList<SuspectFlag> flagsOf(const FileEntry& file, const QList<FileEntry>& files, const CheckPlace& place,
    ContentReader& reader, QList<ScanProblem>& unreadable)
{
    QList<SuspectFlag> found;
    const QByteArray extension = extensionOf(file.path);
    const bool regular = file.kind == FileKind::Regular;
    const bool loaded = extension == "package" || extension == "ts4script";
    const QString modsName = QString::fromUtf8(place.modsName);
    if (regular && file.size == 0) {
        found.append(
            { Suspect::ZeroBytes, QStringLiteral("empty (0 bytes): an unfinished or broken download") });
    } else if (regular && reader.canRead() && loaded) {
        if (const std::optional<SuspectFlag> fault = contentFault(file, extension, reader, unreadable))
            found.append(*fault);
    }
    if (const std::optional<SuspectFlag> fault = depthFault(file, extension, place))
        found.append(*fault);
    if (loaded && file.path.startsWith(place.doubled)) {
        found.append({ Suspect::DoubledModsFolder,
            QStringLiteral("inside a second %1 folder (%1/%1, often left by unpacking): %2 counts "
                           "folders from the outer one, so this file is one folder deeper than it looks")
                .arg(modsName, place.rules.title) });
    }
    if (isArchive(extension)) {
        found.append({ Suspect::ArchiveInMods,
            QStringLiteral("an archive: the game does not load .zip, .rar or .7z files, so its mods are not "
                           "used until it is unpacked") });
    }
    // Only a name that is taken beside it can have been given the " (1)" of a second download.
    const QByteArray original = browserOriginal(file.path);
    if (!original.isEmpty() && contains(files, original)) {
        found.append({ Suspect::BrowserCopy,
            QStringLiteral(
                "looks like a second download of %1 (a browser adds \" (1)\" to a name it already has)")
                .arg(quoted(original)) });
    }
    if (place.rules.hasTray && isTrayFile(extension)) {
        found.append({ Suspect::TrayFileInMods,
            QStringLiteral("a household or lot file: it belongs in the Tray folder, not in %1")
                .arg(modsName) });
    }
    return found;
}

// The flagged files in the order checked, each file's flags in the order of their kinds.
QList<CheckedFile> inKindOrder(const QList<qsizetype>& chosen, QHash<qsizetype, QList<SuspectFlag>>& flags)
{
    QList<CheckedFile> suspects;
    for (qsizetype index : chosen) {
        auto it = flags.find(index);
        if (it == flags.end() || it->isEmpty())
            continue;
        std::stable_sort(it->begin(), it->end(),
            [](const SuspectFlag& a, const SuspectFlag& b) { return int(a.suspect) < int(b.suspect); });
        suspects.append({ index, *it });
    }
    return suspects;
}

}

QByteArray suspectName(Suspect suspect)
{
    switch (suspect) {
    case Suspect::ZeroBytes:
        return QByteArrayLiteral("zero-bytes");
    case Suspect::NoPackageHeader:
        return QByteArrayLiteral("not-a-package");
    case Suspect::ScriptNotZip:
        return QByteArrayLiteral("not-a-script");
    case Suspect::TooDeep:
        return QByteArrayLiteral("too-deep");
    case Suspect::ArchiveInMods:
        return QByteArrayLiteral("archive");
    case Suspect::Duplicate:
        return QByteArrayLiteral("duplicate");
    case Suspect::BrowserCopy:
        return QByteArrayLiteral("browser-copy");
    case Suspect::TrayFileInMods:
        return QByteArrayLiteral("tray-file");
    case Suspect::ScriptUnloadable:
        return QByteArrayLiteral("script-unloadable");
    case Suspect::DoubledModsFolder:
        return QByteArrayLiteral("doubled-mods-folder");
    case Suspect::DuplicateModule:
        return QByteArrayLiteral("same-module");
    case Suspect::WrongPython:
        return QByteArrayLiteral("wrong-python");
    }
    return {};
}

bool isNoise(const QByteArray& path)
{
    const QByteArray extension = extensionOf(path);
    return extension == "cfg" || extension == "log" || extension == "txt";
}

CheckReport checkFiles(const QByteArray& root, const QList<FileEntry>& files, const QList<qsizetype>& which,
    DuplicateScope scope, int generation)
{
    CheckReport report;
    const QList<qsizetype> chosen = which.isEmpty() ? everyIndex(files.size()) : which;
    const CheckPlace place = checkPlace(root, files, generation);
    ContentReader reader(root);
    QHash<qsizetype, QList<SuspectFlag>> flags;
    if (reader.canRead()) {
        const QList<qsizetype> candidates = duplicateCandidates(files, chosen, scope, place);
        flagDuplicates(files, candidates, QSet<qsizetype>(chosen.begin(), chosen.end()), reader, flags,
            report.unreadable);
        readHeadsAhead(reader, files, chosen);
    }
    for (qsizetype index : chosen) {
        const FileEntry& file = files.at(index);
        if (isNoise(file.path))
            report.noise.append(index);
        else if (place.inMods(file.path))
            flags[index] += flagsOf(file, files, place, reader, report.unreadable);
    }
    if (reader.canRead())
        flagScriptMods(root, files, place, flags, QSet<qsizetype>(chosen.begin(), chosen.end()));
    report.suspects = inKindOrder(chosen, flags);
    return report;
}

}
