// SPDX-License-Identifier: GPL-3.0-or-later
#include "suspects.h"

#include "pathtext.h"
#include "scan.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

namespace mending {

namespace {

// The game reads packages at most this many folders below Mods, and script mods at most this many.
constexpr int deepestPackage = 5;
constexpr int deepestScript = 1;

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

    bool hash(const QByteArray& path, quint64& value, QList<ScanProblem>& problems)
    {
        const int fd = openBelow(m_rootFd, path, O_RDONLY | O_NOFOLLOW);
        if (fd < 0) {
            problems.append({ path, errorText(errno).toUtf8() });
            return false;
        }
        XXH3_state_t* state = XXH3_createState();
        XXH3_64bits_reset(state);
        bool ok = true;
        QByteArray head;
        for (;;) {
            const ssize_t n = ::read(fd, m_buffer, sizeof m_buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                problems.append({ path, errorText(errno).toUtf8() });
                ok = false;
                break;
            }
            if (n == 0)
                break;
            if (head.size() < headSize)
                head.append(m_buffer, std::min<qsizetype>(n, headSize - head.size()));
            XXH3_64bits_update(state, m_buffer, size_t(n));
        }
        // A hashed file need not be opened again for its header.
        if (ok)
            m_heads.insert(path, head);
        value = XXH3_64bits_digest(state);
        XXH3_freeState(state);
        ::close(fd);
        return ok;
    }

    static constexpr qsizetype headSize = 4;

private:
    int m_rootFd;
    QHash<QByteArray, QByteArray> m_heads;
    char m_buffer[1 << 17];
};

QString quoted(const QByteArray& path)
{
    return QLatin1Char('"') + displayPath(path) + QLatin1Char('"');
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
    }
    return {};
}

bool isNoise(const QByteArray& path)
{
    const QByteArray extension = extensionOf(path);
    return extension == "cfg" || extension == "log" || extension == "txt";
}

CheckReport checkFiles(const QByteArray& root, const QList<FileEntry>& files, const QList<qsizetype>& which,
    DuplicateScope scope)
{
    CheckReport report;
    QList<qsizetype> chosen = which;
    if (chosen.isEmpty()) {
        chosen.reserve(files.size());
        for (qsizetype i = 0; i < files.size(); ++i)
            chosen.append(i);
    }

    // The game folder itself may have been given rather than its Mods folder.
    QByteArray mods;
    for (const FileEntry& file : files) {
        if (file.path.size() > 5 && file.path.at(4) == '/' && file.path.first(4).toLower() == "mods") {
            mods = file.path.first(5);
            break;
        }
    }

    ContentReader reader(root);
    QHash<qsizetype, QList<SuspectFlag>> flags;
    // Duplicates: only files of one size can be equal, so only those are read and hashed.
    if (reader.canRead()) {
        QList<qsizetype> candidates;
        auto consider = [&](qsizetype index) {
            const FileEntry& file = files.at(index);
            if (file.kind == FileKind::Regular && file.size > 0 && !isNoise(file.path))
                candidates.append(index);
        };
        if (scope == DuplicateScope::AllFiles) {
            for (qsizetype i = 0; i < files.size(); ++i)
                consider(i);
        } else {
            for (qsizetype index : std::as_const(chosen))
                consider(index);
        }
        // Within one size, a browser's second download comes after the file it copies, so it is the one
        // flagged.
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
        const QSet<qsizetype> checked(chosen.begin(), chosen.end());
        for (qsizetype start = 0; start < candidates.size();) {
            qsizetype end = start + 1;
            while (end < candidates.size()
                && files.at(candidates.at(end)).size == files.at(candidates.at(start)).size)
                ++end;
            if (end - start > 1) {
                QHash<quint64, qsizetype> firstWithHash;
                for (qsizetype k = start; k < end; ++k) {
                    const qsizetype index = candidates.at(k);
                    quint64 hash = 0;
                    if (!reader.hash(files.at(index).path, hash, report.unreadable))
                        continue;
                    const auto it = firstWithHash.constFind(hash);
                    if (it == firstWithHash.constEnd()) {
                        firstWithHash.insert(hash, index);
                    } else if (checked.contains(index)) {
                        flags[index].append({ Suspect::Duplicate,
                            QStringLiteral("the same bytes as %1: one copy is enough")
                                .arg(quoted(files.at(it.value()).path)) });
                    }
                }
            }
            start = end;
        }
    }

    for (qsizetype index : std::as_const(chosen)) {
        const FileEntry& file = files.at(index);
        if (isNoise(file.path)) {
            report.noise.append(index);
            continue;
        }
        QList<SuspectFlag> found;
        const QByteArray extension = extensionOf(file.path);
        const bool inMods = mods.isEmpty() || file.path.startsWith(mods);
        const qsizetype depth = file.path.count('/') - (mods.isEmpty() ? 0 : 1);
        const bool regular = file.kind == FileKind::Regular;

        if (regular && file.size == 0) {
            found.append(
                { Suspect::ZeroBytes, QStringLiteral("empty (0 bytes): an unfinished or broken download") });
        } else if (regular && reader.canRead() && (extension == "package" || extension == "ts4script")) {
            char head[4] = {};
            const qsizetype got = reader.head(file.path, head, 4, report.unreadable);
            const QByteArrayView start(head, std::max<qsizetype>(got, 0));
            if (got >= 0 && extension == "package" && start != "DBPF") {
                found.append({ Suspect::NoPackageHeader,
                    QStringLiteral(
                        "not a working .package: it does not start with the DBPF header every package "
                        "has") });
            } else if (got >= 0 && extension == "ts4script" && start != QByteArrayView("PK\x03\x04", 4)) {
                found.append({ Suspect::ScriptNotZip,
                    QStringLiteral(
                        "not a working .ts4script: a script mod is a ZIP archive, and this file is none") });
            }
        }
        if (inMods && extension == "package" && depth > deepestPackage) {
            found.append({ Suspect::TooDeep,
                QStringLiteral(
                    "too deep: the game reads .package files at most %1 folders below Mods, this one is "
                    "%2 below")
                    .arg(deepestPackage)
                    .arg(depth) });
        }
        if (inMods && extension == "ts4script" && depth > deepestScript) {
            found.append({ Suspect::TooDeep,
                QStringLiteral(
                    "too deep: the game reads .ts4script files at most %1 folder below Mods, this one is "
                    "%2 below")
                    .arg(deepestScript)
                    .arg(depth) });
        }
        if (inMods && isArchive(extension)) {
            found.append({ Suspect::ArchiveInMods,
                QStringLiteral(
                    "an archive: the game does not load .zip, .rar or .7z files, so its mods are not "
                    "used until it is unpacked") });
        }
        const QByteArray original = browserOriginal(file.path);
        if (!original.isEmpty()) {
            found.append({ Suspect::BrowserCopy,
                contains(files, original)
                    ? QStringLiteral(
                        "looks like a second download of %1 (a browser adds \" (1)\" to a name it "
                        "already has)")
                          .arg(quoted(original))
                    : QStringLiteral(
                        "named like a second download (a browser adds \" (1)\" to a name it already has)") });
        }
        if (inMods && isTrayFile(extension)) {
            found.append({ Suspect::TrayFileInMods,
                QStringLiteral("a household or lot file: it belongs in the Tray folder, not in Mods") });
        }
        if (!found.isEmpty())
            flags[index] += found;
    }

    for (qsizetype index : std::as_const(chosen)) {
        auto it = flags.find(index);
        if (it == flags.end())
            continue;
        std::stable_sort(it->begin(), it->end(),
            [](const SuspectFlag& a, const SuspectFlag& b) { return int(a.suspect) < int(b.suspect); });
        report.suspects.append({ index, *it });
    }
    return report;
}

}
