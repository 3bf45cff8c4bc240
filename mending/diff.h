// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileentry.h"
#include "resourcetypes.h"
#include "suspects.h"

namespace mending {

enum class ChangeKind { Added, Changed, Removed, Moved };

QByteArray changeKindName(ChangeKind kind); // "added", "changed", "removed", "moved"

struct Change
{
    ChangeKind kind = ChangeKind::Added;
    QByteArray path; // where the file is now; for a removed file, where it was
    QByteArray oldPath; // for a moved file, where it was
    FileEntry before; // not for added files
    FileEntry after; // not for removed files
    int group = 0; // index into DiffResult::groups
    bool noise = false;
    QList<SuspectFlag> flags;
};

enum class GroupKind {
    NewFolder, // everything below a folder that is new as a whole (or gone as a whole)
    SharedStem, // loose files of one folder whose names share a stem
    Single,
};

// Files that belong to one mod and must move together.
struct Group
{
    GroupKind kind = GroupKind::Single;
    QByteArray key; // "folder/" for a new folder, "folder/Stem.*" for a stem, the path for a single file
    QList<qsizetype> changes; // indexes into DiffResult::changes
};

// A new or changed package that holds resources another package of the folder holds too
// (filled by noteClashes in conflicts.h).
struct ClashNote
{
    QByteArray path; // the new or changed package
    QByteArray other; // the package it clashes with (which may be new too)
    qint64 shared = 0; // resources both hold
    ClashSeverity severity = ClashSeverity::Low;
    QString kinds; // what the shared resources are, for players: "interaction tuning 3, SimData 1"
};

struct DiffResult
{
    QList<Change> changes; // added, changed, removed, moved; by path within each kind
    QList<Group> groups; // in the order of their first file
    // Set when the old side was a folder list: only top-level names could be compared.
    bool topLevelOnly = false;
    // Folders either side could not read: files below them are not reported.
    QList<ScanProblem> unknown;
    // Clashes of the new and changed packages with other packages, most severe first.
    QList<ClashNote> clashes;

    bool isEmpty() const { return changes.isEmpty(); }
};

// What changed from one list of files to another (each ascending by path). Moves are files gone
// from one place and found in another with the same inode and size, or with the same name, size and
// modification time. Files below a folder in unknownFolders are left out on both sides.
DiffResult diffFiles(const QList<FileEntry>& before, const QList<FileEntry>& after,
    const QList<ScanProblem>& unknownFolders = {});

// Against a folder list of bare top-level names: only added and removed top-level names are known.
// Links at the top of root are followed, as Brenvale follows them (none are when root is empty).
DiffResult diffTopLevel(
    const QList<QByteArray>& names, const QList<FileEntry>& after, const QByteArray& root = {});

// The names of a folder list, read as Quorrel reads it (CR LF or LF lines, the last one perhaps without,
// bytes kept as written); throws Failure when the bytes cannot be one (binary data, a line that is no
// bare file name).
QList<QByteArray> parseFolderList(QByteArrayView bytes);

// Puts the changes into groups (done by both diffs; exposed for the quarantine and the 50/50).
void assignGroups(DiffResult& result, const QList<FileEntry>& before, const QList<FileEntry>& after);

// Flags the added, changed and moved files (and marks noise), reading content below root when given.
void flagSuspects(DiffResult& result, const QByteArray& root, const QList<FileEntry>& after);

}
