// SPDX-License-Identifier: GPL-3.0-or-later
#include "snapshot.h"

#include "cores.h"
#include "filesystem.h"
#include "pathtext.h"

#include <algorithm>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

namespace mending {

namespace {

constexpr char magic[8] = { 'M', 'E', 'N', 'D', 'S', 'N', 'A', 'P' };
constexpr qsizetype headStart = 12; // magic and version
constexpr qsizetype checksumSize = 8;
constexpr qsizetype smallestRecord = 8;

void putVarint(QByteArray& out, quint64 value)
{
    while (value >= 0x80) {
        out += char(value | 0x80);
        value >>= 7;
    }
    out += char(value);
}

quint64 zigzag(qint64 value)
{
    return (quint64(value) << 1) ^ quint64(value >> 63);
}

qint64 unzigzag(quint64 value)
{
    return qint64(value >> 1) ^ -qint64(value & 1);
}

void putBytes(QByteArray& out, QByteArrayView bytes)
{
    putVarint(out, quint64(bytes.size()));
    out.append(bytes.data(), bytes.size());
}

void putLittle(QByteArray& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char(value >> (8 * i));
}

quint64 getLittle(const char* data, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= quint64(uchar(data[i])) << (8 * i);
    return value;
}

[[noreturn]] void damaged(const char* what)
{
    throw Failure(QStringLiteral("the snapshot file is damaged (%1)").arg(QLatin1String(what)));
}

// Reads the fields in order; every read checks the bounds, and every number has one spelling only,
// so the bytes a valid file holds are exactly the bytes its snapshot encodes to.
class FieldReader
{
public:
    FieldReader(const char* begin, const char* end)
        : m_at(begin)
        , m_end(end)
    { }

    quint64 varint(const char* what)
    {
        quint64 value = 0;
        for (int shift = 0;; shift += 7) {
            if (m_at == m_end)
                damaged(what);
            const uchar byte = uchar(*m_at++);
            if (shift == 63 && byte > 1)
                damaged(what);
            value |= quint64(byte & 0x7F) << shift;
            if (!(byte & 0x80)) {
                if (byte == 0 && shift > 0)
                    damaged(what);
                return value;
            }
        }
    }

    qint64 nonNegative(const char* what)
    {
        const quint64 value = varint(what);
        if (value > quint64(std::numeric_limits<qint64>::max()))
            damaged(what);
        return qint64(value);
    }

    QByteArrayView bytes(quint64 length, const char* what)
    {
        if (length > quint64(m_end - m_at))
            damaged(what);
        QByteArrayView view(m_at, qsizetype(length));
        m_at += length;
        return view;
    }

    uchar byte(const char* what)
    {
        if (m_at == m_end)
            damaged(what);
        return uchar(*m_at++);
    }

    qsizetype left() const { return m_end - m_at; }

private:
    const char* m_at;
    const char* m_end;
};

// A path the scan could have produced: relative, no empty, "." or ".." parts, no NUL byte.
bool plausiblePath(QByteArrayView path)
{
    if (path.isEmpty() || path.front() == '/' || path.back() == '/' || path.contains('\0'))
        return false;
    qsizetype start = 0;
    while (start <= path.size()) {
        qsizetype end = path.indexOf('/', start);
        if (end < 0)
            end = path.size();
        const QByteArrayView part = path.sliced(start, end - start);
        if (part.isEmpty() || part == ".." || part == ".")
            return false;
        start = end + 1;
    }
    return true;
}

qsizetype sharedPrefix(const QByteArray& a, const QByteArray& b)
{
    const qsizetype most = std::min(a.size(), b.size());
    return std::mismatch(a.constData(), a.constData() + most, b.constData()).first - a.constData();
}

char* putVarint(char* at, quint64 value)
{
    while (value >= 0x80) {
        *at++ = char(value | 0x80);
        value >>= 7;
    }
    *at++ = char(value);
    return at;
}

// Appends the file records. They are written straight into the buffer, which grows ahead of each
// record by the most one can take: a snapshot of a million files is encoded in a blink.
void putFileRecords(QByteArray& out, const QList<FileEntry>& files, qsizetype first, qsizetype last)
{
    constexpr qsizetype prefetchAhead = 8;
    constexpr qsizetype longestVarint = 10;
    qsizetype used = out.size();
    const QByteArray* previous = first > 0 ? &files.at(first - 1).path : nullptr;
    static const QByteArray none;
    for (qsizetype i = first; i < last; ++i) {
        const FileEntry& file = files.at(i);
        // Each path lies in memory of its own: asking for those ahead early hides the wait for them.
        if (i + prefetchAhead < last)
            __builtin_prefetch(files.at(i + prefetchAhead).path.constData());
        const qsizetype shared = sharedPrefix(previous ? *previous : none, file.path);
        const qsizetype rest = file.path.size() - shared;
        const qsizetype most = 6 * longestVarint + 1 + rest;
        if (out.size() - used < most)
            out.resize(std::max({ out.capacity(), out.size() * 2, used + most }));
        char* at = out.data() + used;
        at = putVarint(at, quint64(shared));
        at = putVarint(at, quint64(rest));
        std::memcpy(at, file.path.constData() + shared, size_t(rest));
        at += rest;
        *at++ = char(file.kind);
        at = putVarint(at, quint64(file.size));
        at = putVarint(at, zigzag(file.mtimeNs));
        at = putVarint(at, file.inode);
        at = putVarint(at, file.device);
        used = at - out.constData();
        previous = &file.path;
    }
    out.truncate(used);
}

void readHead(FieldReader& in, SnapshotInfo& info)
{
    info.takenNs = unzigzag(in.varint("time"));
    info.root = in.bytes(in.varint("folder"), "folder").toByteArray();
    if (!info.root.startsWith('/') || info.root.contains('\0'))
        damaged("folder");
    info.label = in.bytes(in.varint("label"), "label").toByteArray();
    info.fileCount = in.varint("file count");
}

void checkStart(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        throw Failure(QStringLiteral("the file is empty"));
    const qsizetype compared = std::min(bytes.size(), qsizetype(sizeof magic));
    if (QByteArrayView(magic, compared) != bytes.first(compared))
        throw Failure(QStringLiteral("not a Mendwell snapshot"));
    if (bytes.size() < headStart)
        throw Failure(QStringLiteral("the snapshot file is truncated"));
    const quint32 version = quint32(getLittle(bytes.data() + sizeof magic, 4));
    if (version != snapshotVersion)
        throw Failure(
            QStringLiteral("a snapshot of format version %1, which this Mendwell cannot read (it reads "
                           "version %2)")
                .arg(version)
                .arg(snapshotVersion));
}

QByteArray withPath(const QByteArray& path, const QString& reason)
{
    return (displayPath(path) + QStringLiteral(": ") + reason).toUtf8();
}

[[noreturn]] void failOn(const QByteArray& path, int error)
{
    throw Failure(QStringLiteral("%1: %2").arg(displayPath(path), errorText(error)));
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.first(slash);
}

fs::Fd openFolderOf(const QByteArray& path)
{
    int error = 0;
    fs::Fd folder = fs::openFolder(folderOf(path), &error);
    // Named by the file the player asked for, whose folder is missing or cannot be opened.
    if (!folder.isOpen())
        failOn(path, error);
    return folder;
}

}

QByteArray encodeSnapshot(const Snapshot& snapshot)
{
    QByteArray out;
    out.reserve(64 + snapshot.files.size() * 40);
    out.append(magic, sizeof magic);
    putLittle(out, snapshotVersion, 4);
    putVarint(out, zigzag(snapshot.takenNs));
    putBytes(out, snapshot.root);
    putBytes(out, snapshot.label);
    putVarint(out, quint64(snapshot.files.size()));
    putVarint(out, quint64(snapshot.problems.size()));
    // Large lists are encoded in two halves at once, the second joined to the first.
    const qsizetype count = snapshot.files.size();
    if (count < 1 << 14) {
        putFileRecords(out, snapshot.files, 0, count);
    } else {
        QByteArray second;
        second.reserve((count - count / 2) * 40);
        onThreads(2, [&](int half) {
            if (half == 0)
                putFileRecords(out, snapshot.files, 0, count / 2);
            else
                putFileRecords(second, snapshot.files, count / 2, count);
        });
        out += second;
    }
    for (const ScanProblem& problem : snapshot.problems) {
        putBytes(out, problem.path);
        putBytes(out, problem.reason);
    }
    putLittle(out, XXH3_64bits(out.constData(), size_t(out.size())), 8);
    return out;
}

bool looksLikeSnapshot(QByteArrayView bytes)
{
    const qsizetype compared = std::min(bytes.size(), qsizetype(sizeof magic));
    return compared > 0 && QByteArrayView(magic, compared) == bytes.first(compared);
}

namespace {

// The end of the records, once the start and the checksum are found sound.
qsizetype checkedBodyEnd(QByteArrayView bytes)
{
    checkStart(bytes);
    if (bytes.size() < headStart + checksumSize)
        throw Failure(QStringLiteral("the snapshot file is truncated"));
    const qsizetype bodyEnd = bytes.size() - checksumSize;
    if (XXH3_64bits(bytes.data(), size_t(bodyEnd)) != getLittle(bytes.data() + bodyEnd, 8))
        throw Failure(
            QStringLiteral("the snapshot file is truncated or damaged (its checksum does not match)"));
    return bodyEnd;
}

}

SnapshotInfo decodeSnapshotInfo(QByteArrayView bytes)
{
    const qsizetype bodyEnd = checkedBodyEnd(bytes);
    FieldReader in(bytes.data() + headStart, bytes.data() + bodyEnd);
    SnapshotInfo info;
    readHead(in, info);
    return info;
}

Snapshot decodeSnapshot(QByteArrayView bytes)
{
    const qsizetype bodyEnd = checkedBodyEnd(bytes);
    FieldReader in(bytes.data() + headStart, bytes.data() + bodyEnd);
    SnapshotInfo info;
    readHead(in, info);
    const quint64 problemCount = in.varint("problem count");
    if (info.fileCount > quint64(in.left() / smallestRecord) || problemCount > quint64(in.left() / 2))
        damaged("count");

    Snapshot snapshot;
    snapshot.root = info.root;
    snapshot.label = info.label;
    snapshot.takenNs = info.takenNs;
    snapshot.files.resize(qsizetype(info.fileCount));
    const QByteArray* previous = nullptr;
    static const QByteArray none;
    for (FileEntry& file : snapshot.files) {
        const QByteArray& before = previous ? *previous : none;
        const quint64 shared = in.varint("path");
        if (shared > quint64(before.size()))
            damaged("path");
        const QByteArrayView rest = in.bytes(in.varint("path"), "path");
        file.path.reserve(qsizetype(shared) + rest.size());
        file.path.append(before.constData(), qsizetype(shared));
        file.path.append(rest.data(), rest.size());
        // Ascending order, and the shared part as long as it can be: one spelling per list.
        if (previous && !(before < file.path))
            damaged("order");
        if (qsizetype(shared) < before.size() && qsizetype(shared) < file.path.size()
            && before.at(qsizetype(shared)) == file.path.at(qsizetype(shared)))
            damaged("path");
        if (!plausiblePath(file.path))
            damaged("path");
        const uchar kind = in.byte("kind");
        if (kind != uchar(FileKind::Regular) && kind != uchar(FileKind::Symlink))
            damaged("kind");
        file.kind = FileKind(kind);
        file.size = in.nonNegative("size");
        file.mtimeNs = unzigzag(in.varint("time"));
        file.inode = in.varint("inode");
        file.device = in.varint("device");
        previous = &file.path;
    }
    snapshot.problems.resize(qsizetype(problemCount));
    for (ScanProblem& problem : snapshot.problems) {
        problem.path = in.bytes(in.varint("problem"), "problem").toByteArray();
        problem.reason = in.bytes(in.varint("problem"), "problem").toByteArray();
    }
    if (in.left() != 0)
        damaged("bytes after the end");
    return snapshot;
}

QByteArray readWholeFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        failOn(path, errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        failOn(path, error);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        failOn(path, EISDIR);
    }
    QByteArray bytes;
    bytes.reserve(qsizetype(st.st_size) + 1);
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            failOn(path, error);
        }
        if (got == 0)
            break;
        bytes.append(buffer, got);
    }
    ::close(fd);
    return bytes;
}

void writeSnapshotFile(const QByteArray& path, const Snapshot& snapshot)
{
    writeSnapshotBytes(path, encodeSnapshot(snapshot));
}

void writeSnapshotBytes(const QByteArray& path, const QByteArray& bytes)
{
    const fs::Fd folder = openFolderOf(path);
    int error = 0;
    fs::writeAtomically(folder.get(), fs::lastName(path), bytes, fs::Existing::Replace, &error, 0600);
    if (error)
        failOn(path, error);
}

Snapshot readSnapshotFile(const QByteArray& path)
{
    const QByteArray bytes = readWholeFile(path);
    try {
        return decodeSnapshot(bytes);
    } catch (const Failure& failure) {
        throw Failure(QString::fromUtf8(withPath(path, failure.message())));
    }
}

SnapshotInfo readSnapshotInfo(const QByteArray& path)
{
    // The head comes first and is small: the records need not be read for a listing.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        failOn(path, errno);
    QByteArray head(1 << 16, Qt::Uninitialized);
    const ssize_t got = ::read(fd, head.data(), size_t(head.size()));
    const int error = errno;
    ::close(fd);
    if (got < 0)
        failOn(path, error);
    head.truncate(got);
    try {
        checkStart(head);
        FieldReader in(head.constData() + headStart, head.constData() + head.size());
        SnapshotInfo info;
        readHead(in, info);
        return info;
    } catch (const Failure& failure) {
        throw Failure(QString::fromUtf8(withPath(path, failure.message())));
    }
}

SnapshotStore::SnapshotStore(QByteArray folder)
    : m_folder(std::move(folder))
{ }

QByteArray SnapshotStore::defaultFolder(const QProcessEnvironment& env)
{
    QByteArray data = env.value(QStringLiteral("XDG_DATA_HOME")).toLocal8Bit();
    // The XDG rules ignore a relative value.
    if (!data.startsWith('/'))
        data = env.value(QStringLiteral("HOME")).toLocal8Bit() + "/.local/share";
    return data + "/mendwell/snapshots";
}

int SnapshotStore::add(const Snapshot& snapshot)
{
    // Each missing parent is made in turn, private to the user.
    for (qsizetype slash = m_folder.indexOf('/', 1);; slash = m_folder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? m_folder : m_folder.first(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            failOn(part, errno);
        if (slash < 0)
            break;
    }
    int id = 1;
    for (const StoredSnapshot& stored : list())
        id = std::max(id, stored.id + 1);
    const QByteArray bytes = encodeSnapshot(snapshot);
    const fs::Fd folder = openFolderOf(pathOf(id));
    // A file never replaces another, so two mendwells saving at once cannot take the same number.
    for (;; ++id) {
        int error = 0;
        fs::writeAtomically(folder.get(), fs::lastName(pathOf(id)), bytes, fs::Existing::Keep, &error, 0600);
        if (error == 0)
            break;
        if (error != EEXIST)
            failOn(pathOf(id), error);
    }
    return id;
}

QList<StoredSnapshot> SnapshotStore::list(const QByteArray& root) const
{
    QList<StoredSnapshot> found;
    DIR* dir = ::opendir(m_folder.constData());
    if (!dir)
        return found;
    while (const dirent* item = ::readdir(dir)) {
        const QByteArray name(item->d_name);
        if (!name.endsWith(".mwsnap"))
            continue;
        bool ok = false;
        const int id = name.chopped(7).toInt(&ok);
        if (!ok || id <= 0 || pathOf(id) != m_folder + '/' + name)
            continue;
        try {
            StoredSnapshot stored { id, pathOf(id), readSnapshotInfo(pathOf(id)) };
            if (root.isEmpty() || stored.info.root == root)
                found.append(stored);
        } catch (const Failure&) { }
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const StoredSnapshot& a, const StoredSnapshot& b) {
        return a.info.takenNs != b.info.takenNs ? a.info.takenNs > b.info.takenNs : a.id > b.id;
    });
    return found;
}

void SnapshotStore::remove(int id)
{
    const fs::Fd folder = openFolderOf(pathOf(id));
    if (!fs::removeAt(folder.get(), fs::lastName(pathOf(id))))
        failOn(pathOf(id), errno);
    if (const int error = fs::syncFolder(folder.get()))
        failOn(m_folder, error);
}

QByteArray SnapshotStore::pathOf(int id) const
{
    return m_folder + '/' + QByteArray::number(id) + ".mwsnap";
}

}
