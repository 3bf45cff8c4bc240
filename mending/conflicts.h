// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "diff.h"
#include "fileentry.h"
#include "resourcetypes.h"

#include <utility>

// Mods that hold the same resource (type, group and instance all equal): the game can use only one of
// them, so the other's change is lost, or the two halves of different mods meet.
namespace mending {

struct Conflict
{
    QList<QByteArray> packages; // two or more, by path
    qint64 shared = 0; // resources every one of them holds
    QList<std::pair<quint32, qint64>> kinds; // resource type and how many, most first
    ClashSeverity severity = ClashSeverity::Low; // of the most severe kind
    // The package the game ends up using, where public sources establish the rule; -1 where it is
    // one of them and no public source says which.
    qsizetype used = -1;
};

struct PackageTrouble
{
    QByteArray path;
    QString reason; // one line a player understands
};

struct ConflictReport
{
    qint64 packages = 0; // packages whose index was read
    qint64 resources = 0; // index entries read
    QList<Conflict> conflicts; // most severe first, then most shared, then by path
    QList<PackageTrouble> damaged; // the game may fail to load these
    QList<PackageTrouble> notRead; // versions of the container that are not read
    QList<ScanProblem> unreadable; // packages that could not be opened or read
};

// The clashes among the packages of a folder's list (the one root's scan gave), in the game's mods
// folder and as deep as the game reads, by the rules of the game of that generation (0: the one
// root's path names, else The Sims 4). The scan may leave sizes unknown (ScanFacts::Names): each
// package is then asked for its size once it is open. Throws Failure when root cannot be opened.
ConflictReport findConflicts(
    const QByteArray& root, const QList<FileEntry>& files, int generation = 0, int threads = 0);

// "interaction tuning 3, SimData 1".
QString describeKinds(const QList<std::pair<quint32, qint64>>& kinds);

// Notes in result.clashes which new and changed packages hold resources that other packages
// below root hold too. The other packages are read only when the new ones hold resources.
void noteClashes(
    DiffResult& result, const QByteArray& root, const QList<FileEntry>& after, int generation = 0);

}
