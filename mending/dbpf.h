// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <compare>
#include <functional>

// The index of a .package file (the DBPF container of The Sims 2, 3 and 4). Only the header and the
// index are read, never a resource's bytes: that is all it takes to know which resources a mod holds.
namespace mending {

// A resource is named by its type, group and instance, in every game that uses the container.
struct ResourceKey
{
    quint32 type = 0;
    quint32 group = 0;
    quint64 instance = 0;

    friend auto operator<=>(const ResourceKey&, const ResourceKey&) = default;
};

struct IndexEntry
{
    ResourceKey key;
    quint32 position = 0; // where the resource's bytes start in the file
    quint32 sizeOnDisk = 0;
    quint32 sizeInMemory = 0; // 0 where the index does not say (version 1)
    // As the index records it; nothing is decompressed. 0 in version 1, whose index does not say
    // (The Sims 2 lists its compressed resources in a resource of their own, which is not read).
    quint16 compression = 0;

    friend bool operator==(const IndexEntry&, const IndexEntry&) = default;
};

enum class PackageState {
    Read,
    NotPackage, // does not start with "DBPF"
    NotRead, // a version of the container that no public source documents well enough to read
    Damaged, // a count, position or size that does not fit the file
    Unreadable, // the file could not be opened or read
};

struct PackageIndex
{
    PackageState state = PackageState::NotPackage;
    quint32 majorVersion = 0;
    quint32 minorVersion = 0;
    QList<IndexEntry> entries; // in the order of the index
    QString problem; // why the state is not Read: one line a player understands
};

// Reads size bytes at offset into out; false when they cannot all be read.
using ReadAt = std::function<bool(quint64 offset, quint32 size, char* out)>;

// The index of a package of fileSize bytes whose bytes readAt gives. Every count, position and size is
// checked against the file before it is used, so damaged or hostile bytes give Damaged, never an
// overread or an allocation larger than the file.
PackageIndex parsePackageIndex(quint64 fileSize, const ReadAt& readAt);

// The index of the package at path below an open folder (its relative path), read with pread; a link
// is not followed. A size known from a scan saves asking for it; should the file have changed size
// since, it is read again at its size now.
PackageIndex readPackageIndex(int folderFd, const QByteArray& relativePath, qint64 knownSize = -1);

}
