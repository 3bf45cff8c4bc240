// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "conflicts.h"
#include "diff.h"
#include "errorreports.h"
#include "gamefolders.h"
#include "snapshot.h"
#include "suspects.h"

#include <cstdio>
#include <functional>

namespace mending {

// Bytes on their way to a stream, kept until there are many. A full disk or a closed device is
// remembered, so that whoever wrote ends in trouble, not in success.
class Output
{
public:
    explicit Output(std::FILE* file);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    Output& operator<<(QByteArrayView bytes);
    Output& operator<<(const QByteArray& bytes) { return *this << QByteArrayView(bytes); }
    Output& operator<<(const QString& text) { return *this << QByteArrayView(text.toUtf8()); }
    Output& operator<<(const char* text) { return *this << QByteArrayView(text); }
    Output& operator<<(char c) { return *this << QByteArrayView(&c, 1); }

    void flush();
    // The errno value of the first write that failed, or 0.
    int error() const { return m_error; }

private:
    std::FILE* m_file;
    int m_error = 0;
    QByteArray m_buffer;
};

enum class ReportFormat { Text, Tsv, Json };

// What a writer of this module writes, as bytes, for a window to show.
QByteArray writtenBytes(const std::function<void(Output&)>& write);

// Numbers for players, written one way wherever they are shown: digits grouped as the player's
// locale groups them ("100,000" or "100.000").
QString countText(qint64 count);
QString sizeText(qint64 bytes); // rounded: "6 bytes", "2.0 KB"
QString exactSize(qint64 bytes); // every byte: "2,049 bytes"
QString timeText(qint64 ns); // local time to the second
QString exactTime(qint64 ns); // to the nanosecond: two times of one second told apart
QString fileCount(qint64 count, int width = 0); // "1 file", "100,000 files", right-aligned in width

// A flag in a player's words ("Empty file"); the reason it carries says the rest.
QString flagWords(Suspect suspect);
// The files mods write while the game runs, in the same words.
QString noiseWords();
QString noiseReason();
// A flag's words and its reason on one line, as the text for players shows it.
QString flagLine(const SuspectFlag& flag);

// What a diff compared, named for its head.
struct DiffSides
{
    QByteArray root; // the folder whose changes are shown
    QByteArray oldRoot; // the folder the old snapshot was taken of; empty for a folder list
    QString since; // the old side in words: "snapshot 1 of 2026-12-07 17:52:16"
    QString until; // the new side in words
    QByteArray oldName; // the old side as it was given
    QByteArray newName; // the new side as it was given, or the folder
};

// Said wherever a folder list is the old side.
extern const char topLevelNote[];

void writeDiff(const DiffResult& result, const DiffSides& sides, ReportFormat format, Output& out);
// A check of files (their paths relative to root).
void writeCheck(const QByteArray& root, const QList<FileEntry>& files, const CheckReport& report,
    ReportFormat format, Output& out);
void writeGames(const QList<GameFolder>& folders, ReportFormat format, Output& out);
// Kept snapshots, newest first; root empty when they are of every folder.
void writeSnapshots(const QList<StoredSnapshot>& snapshots, const QByteArray& root, Output& out);

// Mods that hold the same resources, and damaged packages, below root.
void writeConflicts(const QByteArray& root, const ConflictReport& report, ReportFormat format, Output& out);
// A new or changed mod's clash with another, as diff says it: "holds 2 resources that X holds too
// (CAS part 2; medium)". The words of the flag the window shows for it.
QString clashText(const ClashNote& clash);
QString clashWords();
// How much a clash matters, in a player's words: "High (how the game plays)".
QString severityWords(ClashSeverity severity);
// The game's error reports and the script mods behind their tracebacks.
void writeErrorReports(const GameErrorReports& findings, ReportFormat format, Output& out);
QString errorReportKindText(ErrorReportKind kind); // "an error in the game's scripts"
// How a mod named by a report changed since the snapshot compared with: "  (new since the snapshot)";
// empty when none was.
QString sinceSnapshotText(const GameErrorReports& findings, const QByteArray& path);

// One line of a list of changes as the window shows it, for export.
struct ChangeLine
{
    ChangeKind kind = ChangeKind::Added;
    bool movedOut = false; // out in the quarantine now
    bool noise = false;
    QByteArray path;
    QByteArray oldPath;
    qint64 size = -1; // -1 where nothing is known
    qint64 mtimeNs = 0;
    QByteArray groupKey;
    QList<SuspectFlag> flags;
};

// One header line, then a line per change with each path's exact bytes, fields quoted where they hold
// a comma, a quote or a line end, lines ending in CR LF.
QByteArray changesCsv(const QList<ChangeLine>& lines);

}
