// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "diff.h"
#include "fileentry.h"
#include "scriptmods.h"
#include "snapshot.h"

#include <QHash>

#include <optional>

// The error reports The Sims 4 writes beside its Mods folder (lastException*.txt, lastUIException*.txt,
// lastCrash*.txt): XML whose text holds Python tracebacks. They are read as text, so that a report
// the game cut short or wrote as no well-formed XML still gives its time, its error and its frames.
namespace mending {

enum class ErrorReportKind { Exception, UiException, Crash };

// "exception", "ui-exception", "crash", as tab-separated and JSON output give it.
QByteArray errorReportKindName(ErrorReportKind kind);

// The kind of report a file of the game's folder is, by its name; nothing for other files.
std::optional<ErrorReportKind> errorReportKindOf(QByteArrayView fileName);

// One line of a traceback: File "path", line N, in function.
struct TracebackFrame
{
    QString path; // as its author compiled it, on the author's computer
    int line = 0;
    QString function;

    friend bool operator==(const TracebackFrame&, const TracebackFrame&) = default;
};

struct ErrorReport
{
    QString time; // as the report gives it; empty when it gives none
    QString error; // the line that says what went wrong
    QList<TracebackFrame> frames; // outermost first, as Python writes them
    int repeats = 1; // the same report written this many times in the file
    bool cutShort = false; // the report's XML ends early, or the file is no XML

    friend bool operator==(const ErrorReport&, const ErrorReport&) = default;
};

// The reports in one file's bytes, in the order written. Never fails: bytes that hold no report give
// none.
QList<ErrorReport> parseErrorReports(QByteArrayView bytes);

struct ErrorReportFile
{
    QByteArray name; // in the game's folder
    ErrorReportKind kind = ErrorReportKind::Exception;
    qint64 mtimeNs = 0;
    QList<ErrorReport> reports;
};

// The report files of a game's folder, by name. Files that cannot be read are added to problems.
QList<ErrorReportFile> readErrorReports(const QByteArray& gameFolder, QList<ScanProblem>& problems);

// Finds the script mod a traceback frame comes from: the frame's path, whatever folders its author
// had before it, ends in package/module.py, and the mod holds package/module.pyc (or .py).
class ModuleFinder
{
public:
    explicit ModuleFinder(const QList<ScriptMod>& mods);

    // Indexes into the mods given (several when more than one provides the module), or none when the
    // frame is the game's own or of a mod not installed. A module at the top of an archive, outside
    // any package, is matched only by a frame path without folders: its name alone is too common
    // ("utils.py") to name a mod.
    QList<qsizetype> modsOf(const QString& framePath) const;

private:
    QHash<QString, QList<qsizetype>> m_modules; // "package/module", lower case
    QHash<QString, QList<qsizetype>> m_archives; // "name.ts4script", lower case
};

// The mods behind a report's frames, the one nearest the error first.
QList<qsizetype> modsBehind(const ErrorReport& report, const ModuleFinder& finder);

// A game's error reports with the script mods its Mods folder holds (those the game loads), and, when
// compared with a snapshot, how each of those mods changed since.
struct GameErrorReports
{
    QByteArray gameFolder; // absolute
    QByteArray modsFolder; // the name of its Mods folder, as the file system spells it; empty without one
    QList<ErrorReportFile> files;
    QList<ScriptMod> mods; // paths relative to the game's folder ("Mods/...")
    bool compared = false;
    QHash<QByteArray, ChangeKind> changes; // added, changed or moved mods, by path; the others are unchanged
    QList<ScanProblem> problems; // relative to the game's folder

    // The mods behind each report are found with this.
    ModuleFinder finder() const { return ModuleFinder(mods); }
};

// The script mods the reports' tracebacks pass through, as absolute paths, each once, in the order
// the reports name them (nearest the error first).
QList<QByteArray> modsNamedByReports(const GameErrorReports& findings);

// Reads the reports of a game's folder, given as the game's folder or as its Mods folder, and compares
// its script mods with since when given (a snapshot of the game's folder or of its Mods folder). Throws
// Failure when the folder cannot be read or since is of another folder.
GameErrorReports readGameErrorReports(const QByteArray& folder, const Snapshot* since = nullptr);

}
