// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <utility>

// Files move out of a game folder into a quarantine folder beside it, and back, without ever being
// deleted or overwritten. Each move is written down and synced before the first file moves, so that
// after a crash or a kill at any moment recover() brings every file to exactly one place.
//
// On disk, beside FOLDER:
//   "<FOLDER name> (moved out by Mendwell)/"
//       ".mendwell-step"              the move in progress, if any (see quarantine.cpp)
//       ".mendwell-step.unreadable-*" such a record that could not be read, kept for a person to look at
//       "2026-12-07 17.30.05/"        one batch per move
//           "manifest.tsv"            what moved: original path, size, time, permissions
//           "<FOLDER name>/..."       the files, at their paths inside FOLDER
//           "beside <FOLDER name>/..." files that lay beside FOLDER (the game's caches)
// The files in a batch folder are what is out; the manifest only adds how they were. Every path is reached
// from folder handles without following links (filesystem.h), so no record, however edited, and no folder
// swapped for a link, can make a move reach outside FOLDER, its parent's cache files and the quarantine.
namespace mending {

// One file of a batch as it was in the game folder before it moved out.
struct QuarantinedFile
{
    QByteArray path; // relative, "/" between folders, the name's bytes as they are
    bool beside = false; // the path is relative to the folder's parent (a cache file beside it)
    qint64 size = 0;
    qint64 modifiedNs = 0; // since 1970
    quint32 mode = 0; // st_mode: file type and permissions
    bool out = false; // still in the quarantine
};

struct QuarantineBatch
{
    QString name; // its date, "2026-12-07 17.30.05", with " (2)" when two moves share a second
    QString path; // absolute
    QList<QuarantinedFile> files; // what lies in the batch folder, with what its manifest recorded of it
    QStringList notices; // records of the batch that were ignored, and why
    int filesOut() const;
};

// What a move, a restore or a recovery did. A file that could not move stays where it was and is named
// here with the reason; the others went on.
struct MoveReport
{
    QString batch; // the batch written or read (the last one when a restore took several)
    QList<QByteArray> moved;
    QList<std::pair<QByteArray, QString>> skipped; // path and why it stayed
    QString error; // nothing was moved at all, and why
    QString notice; // what the player should know although the move went on (sentences, one a line)
    bool cancelled = false; // stopped between two files: those not reached yet stayed where they were
    bool ok() const { return error.isEmpty(); }
};

// Lets another thread follow a move and stop it between two files. A stopped move leaves every file
// in one place, moved or not; finishing an interrupted one after a crash cannot be stopped.
struct MoveWatch
{
    std::atomic<qint64> done { 0 }; // files and whole folders handled so far
    std::atomic<qint64> total { 0 };
    std::atomic<bool> cancel { false };
    // Called on the moving thread after each file or whole folder, where the folder may change under the
    // move (another program at work); a test stands in for that program here.
    std::function<void()> betweenFiles;
};

// "<name> (moved out by Mendwell)" beside the folder.
QString quarantineFolderFor(const QString& folder);
QByteArray quarantineFolderBytesFor(const QByteArray& folder);

class Quarantine
{
public:
    // generation names the game whose running blocks a move (0: any of them).
    explicit Quarantine(const QString& folder, int generation = 0);
    // The folder's path as the system names it, for a path that is not text.
    explicit Quarantine(const QByteArray& folder, int generation = 0);

    QString folder() const { return m_folder; }
    QString quarantineFolder() const { return m_quarantine; }

    // Finishes a move that was interrupted, and tidies batches left empty. moveOut() and restore() call it
    // first; a program calls it at start.
    MoveReport recover();

    // Moves files (paths relative to the folder) out into a new batch, and with them files that lie beside
    // the folder (paths relative to its parent), such as the game's cache.
    MoveReport moveOut(const QList<QByteArray>& paths, const QList<QByteArray>& besidePaths = {});

    // Puts back the files of one batch (all batches, newest first, when batch is empty); only the given
    // paths when some are given (matched against both kinds of path).
    MoveReport restore(const QString& batch = {}, const QList<QByteArray>& paths = {});

    // The batches, oldest first, with every file and whether it is still out.
    QList<QuarantineBatch> batches() const;

    // Whether a move was cut short (a crash, a kill) and recover() has yet to finish it.
    bool unfinishedMove() const;

    // Why files must not move now (a game is running), or nothing.
    QString gameRunningMessage() const;

    // The watch that moveOut() and restore() report to; it must outlive them.
    void setWatch(MoveWatch* watch) { m_watch = watch; }

private:
    MoveReport recoverLocked();

    QString m_folder;
    QString m_quarantine;
    QByteArray m_folderBytes;
    QByteArray m_quarantineBytes;
    int m_generation = 0;
    MoveWatch* m_watch = nullptr;
};

}
