// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileentry.h"

#include <QProcessEnvironment>

namespace mending {

// A folder as it was at one moment: what mendwell keeps so it can later tell what changed.
struct Snapshot
{
    QByteArray root; // the absolute folder, raw bytes
    QByteArray label; // UTF-8, may be empty
    qint64 takenNs = 0; // nanoseconds since 1970 UTC
    QList<FileEntry> files; // strictly ascending by path bytes
    QList<ScanProblem> problems; // folders that could not be read when it was taken

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

// What a listing of snapshots shows, read without decoding every file.
struct SnapshotInfo
{
    QByteArray root;
    QByteArray label;
    qint64 takenNs = 0;
    quint64 fileCount = 0;
};

inline constexpr quint32 snapshotVersion = 1;

// The bytes of a snapshot file (the format is described in SNAPSHOT-FORMAT.md).
QByteArray encodeSnapshot(const Snapshot& snapshot);

// Reads the bytes of a snapshot file. A truncated, damaged or foreign file, or one of another
// version, throws Failure with a sentence saying which; it never yields a partial snapshot.
Snapshot decodeSnapshot(QByteArrayView bytes);

// The head of a whole snapshot file (its checksum verified, its records not decoded), so the work
// that needs the folder can start while the records are decoded. Throws Failure as decodeSnapshot does.
SnapshotInfo decodeSnapshotInfo(QByteArrayView bytes);

// Whether bytes begin like a snapshot file (or are a cut-off start of one).
bool looksLikeSnapshot(QByteArrayView bytes);

// Writes a snapshot so that the file is there whole or not at all: temporary file beside the
// target, synced, then renamed over it, and the folder synced. Throws Failure naming the path.
void writeSnapshotFile(const QByteArray& path, const Snapshot& snapshot);
// The same with the snapshot encoded already (encodeSnapshot).
void writeSnapshotBytes(const QByteArray& path, const QByteArray& bytes);

// Throws Failure naming the path and the reason.
Snapshot readSnapshotFile(const QByteArray& path);
SnapshotInfo readSnapshotInfo(const QByteArray& path);

// The whole content of a file; throws Failure naming the path and the reason.
QByteArray readWholeFile(const QByteArray& path);

struct StoredSnapshot
{
    int id = 0;
    QByteArray path;
    SnapshotInfo info;
};

// The player's own snapshots, one file each in a folder of the user's data folder. Each file is
// written atomically and describes itself, so the folder is the list: nothing else can fall out of
// step with it after a crash.
class SnapshotStore
{
public:
    explicit SnapshotStore(QByteArray folder);

    // $XDG_DATA_HOME/mendwell/snapshots, by default ~/.local/share/mendwell/snapshots.
    static QByteArray defaultFolder(
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

    const QByteArray& folder() const { return m_folder; }

    // Keeps a snapshot under the next free number and returns that number.
    int add(const Snapshot& snapshot);

    // Forgets a snapshot: its file goes, and the folder is synced. Throws Failure naming the file.
    void remove(int id);

    // Snapshots newest first (all of them, or those taken of one folder). Files that cannot be
    // read are left out of the list.
    QList<StoredSnapshot> list(const QByteArray& root = QByteArray()) const;

    // The file of a number; empty when there is no such snapshot.
    QByteArray pathOf(int id) const;

private:
    QByteArray m_folder;
};

}
