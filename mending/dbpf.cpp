// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbpf.h"

#include "fileentry.h"
#include "scan.h"

#include <QScopeGuard>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The layout follows the community's format pages:
// - "Sims 3:DBPF" (simswiki.info, by Peter Jones) and "DBPF Format" (Sims4Tools wiki on GitHub) for
//   version 2: a 96-byte header with the entry count at byte 36, the index size at 44, the index
//   version 3 at 60 and the index position at 64; the index opens with a word whose bits say which of
//   the eight words of an entry are stored once, after it, for every entry.
// - "DatabasePackedFile" (simswiki.info) and "DBPF header" (fbstj/dbpf wiki) for version 1 (The Sims
//   2): the entry count at 36, the index position at 40, its size at 44 and the index's minor version
//   at 60 (2: entries of 24 bytes with a second instance word; else 20 bytes).
namespace mending {

namespace {

constexpr quint32 headerSize = 96;
constexpr qint64 smallPackage = 16 * 1024;
// No package of the games comes near this; a larger index is not read rather than allocated.
constexpr quint32 largestIndex = 1u << 28;

quint32 wordAt(const char* bytes, quint32 offset)
{
    return qFromLittleEndian<quint32>(bytes + offset);
}

PackageIndex failed(PackageIndex index, PackageState state, const QString& problem)
{
    index.state = state;
    index.problem = problem;
    index.entries.clear();
    return index;
}

// Reads the index bytes the header names, after checking that they lie inside the file and after
// the header; no more than wanted of them, so that an index larger than its entries need costs no
// memory.
bool readIndexBytes(quint64 fileSize, quint64 position, quint64 size, quint64 wanted, const ReadAt& readAt,
    QByteArray& bytes, PackageIndex& index)
{
    if (position < headerSize) {
        index = failed(index, PackageState::Damaged, QStringLiteral("its index lies inside its header"));
        return false;
    }
    if (position + size > fileSize) {
        index
            = failed(index, PackageState::Damaged, QStringLiteral("its index runs past the end of the file"));
        return false;
    }
    size = std::min(size, wanted);
    if (size > largestIndex) {
        index = failed(index, PackageState::NotRead, QStringLiteral("its index is too large to read"));
        return false;
    }
    bytes.resize(qsizetype(size));
    if (!readAt(position, quint32(size), bytes.data())) {
        index = failed(index, PackageState::Unreadable, QStringLiteral("its index could not be read"));
        return false;
    }
    return true;
}

bool fitsFile(quint64 fileSize, const IndexEntry& entry)
{
    return quint64(entry.position) + entry.sizeOnDisk <= fileSize;
}

PackageIndex damagedEntry(PackageIndex index, quint32 number)
{
    return failed(index, PackageState::Damaged,
        QStringLiteral("resource %1 of its index lies beyond the end of the file").arg(number + 1));
}

// Version 2 (The Sims 3 and 4).
PackageIndex parseVersion2(PackageIndex index, quint64 fileSize, const char* header, const ReadAt& readAt)
{
    const quint32 count = wordAt(header, 36);
    const quint32 size = wordAt(header, 44);
    quint32 position = wordAt(header, 64);
    // Where the word at 64 is zero, the position is in the word at 40, where version 1 keeps it.
    if (position == 0)
        position = wordAt(header, 40);
    if (count == 0) {
        index.state = PackageState::Read;
        return index;
    }
    QByteArray bytes;
    // The first word, the eight it may store once, and eight for every entry at most.
    if (!readIndexBytes(fileSize, position, size, 36 + 32 * quint64(count), readAt, bytes, index))
        return index;
    if (bytes.size() < 4)
        return failed(
            index, PackageState::Damaged, QStringLiteral("its index is shorter than its first word"));
    const quint32 constant = wordAt(bytes.constData(), 0) & 0xFF;
    const int stored = std::popcount(constant);
    const quint64 perEntry = 4u * quint64(8 - stored);
    const quint64 needed = 4u + 4u * quint64(stored) + perEntry * count;
    if (needed > quint64(bytes.size()))
        return failed(index, PackageState::Damaged,
            QStringLiteral("its index is too short for the %1 resources its header counts").arg(count));

    quint32 words[8] = {};
    quint32 at = 4;
    for (int field = 0; field < 8; ++field) {
        if (constant & (1u << field)) {
            words[field] = wordAt(bytes.constData(), at);
            at += 4;
        }
    }
    // With every field stored once, every entry is the same resource: one entry says it all, and a
    // count of four thousand million costs nothing.
    const quint32 distinct = stored == 8 ? 1 : count;
    index.entries.reserve(distinct);
    for (quint32 number = 0; number < distinct; ++number) {
        for (int field = 0; field < 8; ++field) {
            if (!(constant & (1u << field))) {
                words[field] = wordAt(bytes.constData(), at);
                at += 4;
            }
        }
        IndexEntry entry;
        entry.key = { words[0], words[1], (quint64(words[2]) << 32) | words[3] };
        entry.position = words[4];
        entry.sizeOnDisk = words[5] & 0x7FFFFFFF; // the high bit is a flag
        entry.sizeInMemory = words[6];
        entry.compression = quint16(words[7] & 0xFFFF);
        if (!fitsFile(fileSize, entry))
            return damagedEntry(index, number);
        index.entries.append(entry);
    }
    index.state = PackageState::Read;
    return index;
}

// Version 1 (The Sims 2).
PackageIndex parseVersion1(PackageIndex index, quint64 fileSize, const char* header, const ReadAt& readAt)
{
    const quint32 count = wordAt(header, 36);
    const quint32 position = wordAt(header, 40);
    const quint32 size = wordAt(header, 44);
    const quint32 entrySize = wordAt(header, 60) == 2 ? 24 : 20;
    if (count == 0) {
        index.state = PackageState::Read;
        return index;
    }
    QByteArray bytes;
    if (!readIndexBytes(fileSize, position, size, quint64(entrySize) * count, readAt, bytes, index))
        return index;
    if (quint64(entrySize) * count > quint64(bytes.size()))
        return failed(index, PackageState::Damaged,
            QStringLiteral("its index is too short for the %1 resources its header counts").arg(count));
    index.entries.reserve(count);
    for (quint32 number = 0; number < count; ++number) {
        const char* words = bytes.constData() + quint64(entrySize) * number;
        IndexEntry entry;
        entry.key.type = wordAt(words, 0);
        entry.key.group = wordAt(words, 4);
        entry.key.instance = wordAt(words, 8);
        if (entrySize == 24)
            entry.key.instance |= quint64(wordAt(words, 12)) << 32;
        entry.position = wordAt(words, entrySize - 8);
        entry.sizeOnDisk = wordAt(words, entrySize - 4);
        if (!fitsFile(fileSize, entry))
            return damagedEntry(index, number);
        index.entries.append(entry);
    }
    index.state = PackageState::Read;
    return index;
}

}

PackageIndex parsePackageIndex(quint64 fileSize, const ReadAt& readAt)
{
    PackageIndex index;
    char header[headerSize];
    const quint32 headerRead = quint32(std::min<quint64>(fileSize, headerSize));
    if (fileSize >= 4 && !readAt(0, headerRead, header))
        return failed(index, PackageState::Unreadable, QStringLiteral("its header could not be read"));
    if (fileSize < 4 || QByteArrayView(header, 4) != "DBPF")
        return failed(index, PackageState::NotPackage, QStringLiteral("it does not start with \"DBPF\""));
    if (fileSize < headerSize)
        return failed(index, PackageState::Damaged, QStringLiteral("it is shorter than its header"));
    index.majorVersion = wordAt(header, 4);
    index.minorVersion = wordAt(header, 8);
    if (index.majorVersion == 2)
        return parseVersion2(index, fileSize, header, readAt);
    if (index.majorVersion == 1)
        return parseVersion1(index, fileSize, header, readAt);
    return failed(index, PackageState::NotRead,
        QStringLiteral("its container version %1.%2 is not one of The Sims 2, 3 or 4")
            .arg(index.majorVersion)
            .arg(index.minorVersion));
}

PackageIndex readPackageIndex(int folderFd, const QByteArray& relativePath, qint64 knownSize)
{
    PackageIndex index;
    // Not blocking: a file swapped for a named pipe since the scan must not hang the reading.
    const int fd = openBelow(folderFd, relativePath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(index, PackageState::Unreadable, errorText(errno));
    auto closing = qScopeGuard([fd] { ::close(fd); });
    // A small package is read whole in one call, header and index at once: copying a few kilobytes
    // costs less than a second call. Where the size is not known yet, a file that ends within that
    // read has told it.
    char small[smallPackage];
    ssize_t held = 0;
    qint64 size = knownSize;
    if (knownSize < 0 || (knownSize > 0 && knownSize <= smallPackage)) {
        const size_t wanted = knownSize < 0 ? size_t(smallPackage) : size_t(knownSize);
        do
            held = ::pread(fd, small, wanted, 0);
        while (held < 0 && errno == EINTR);
        if (held < 0)
            return failed(index, PackageState::Unreadable, errorText(errno));
        if (knownSize < 0 && held < smallPackage)
            size = held;
    }
    struct stat st;
    if (size < 0) {
        if (::fstat(fd, &st) != 0)
            return failed(index, PackageState::Unreadable, errorText(errno));
        size = st.st_size;
    }
    int readError = 0;
    const ReadAt fromFile = [fd, &readError](quint64 offset, quint32 length, char* out) {
        quint32 done = 0;
        while (done < length) {
            const ssize_t got = ::pread(fd, out + done, length - done, off_t(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                readError = got < 0 ? errno : 0;
                return false;
            }
            done += quint32(got);
        }
        return true;
    };
    const ReadAt readAt = [&small, held, &fromFile](quint64 offset, quint32 length, char* out) {
        if (offset + length <= quint64(held)) {
            std::memcpy(out, small + offset, length);
            return true;
        }
        return fromFile(offset, length, out);
    };
    index = parsePackageIndex(quint64(size), readAt);
    // A file that changed size since the scan is read again at its size now, rather than named damaged.
    if ((index.state == PackageState::Damaged || (index.state == PackageState::Unreadable && readError == 0))
        && knownSize >= 0 && ::fstat(fd, &st) == 0 && st.st_size != knownSize)
        index = parsePackageIndex(quint64(st.st_size), fromFile);
    if (index.state == PackageState::Unreadable && readError != 0)
        index.problem = errorText(readError);
    return index;
}

}
