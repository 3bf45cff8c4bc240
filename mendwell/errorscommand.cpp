// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorscommand.h"

#include "commandline.h"
#include "diff.h"
#include "errorreports.h"
#include "pathtext.h"
#include "scriptmods.h"
#include "snapshot.h"

#include <QDateTime>
#include <QHash>

#include <algorithm>

#include <optional>

#include <sys/stat.h>

using namespace mending;

const char errorsHelp[]
    = "Usage: mendwell errors GAMEFOLDER [--since SNAPSHOT] [--format text|tsv|json]\n"
      "\n"
      "Reads the error reports The Sims 4 writes beside its Mods folder (lastException*.txt,\n"
      "lastUIException*.txt, lastCrash*.txt) and lists each: its time, its kind and the line that\n"
      "says what went wrong. For each traceback it names the script mods (.ts4script) whose modules\n"
      "its lines pass through, the one nearest the error first: a line's file, as the mod's author\n"
      "compiled it, ends in package/module.py, and the mod holds package/module.pyc. Lines of no\n"
      "installed mod are the game's own (or of a mod no longer there). Reports the game cut short or\n"
      "wrote as broken XML are read as far as they go. GAMEFOLDER is the game's folder (the one\n"
      "holding Mods); a Mods folder given stands for the folder above it.\n"
      "  --since SNAPSHOT  a snapshot (number or file) of GAMEFOLDER or of its Mods folder, taken\n"
      "                    while the game worked: each mod named says whether it is new, changed\n"
      "                    or moved since then. Start a 50/50 from those.\n"
      "A mod named is where the error happened, not always its cause: nothing is moved.\n"
      "tsv lines: report<TAB>file<TAB>number<TAB>kind<TAB>time<TAB>error (time empty when the report\n"
      "gives none), and\n"
      "mod<TAB>file<TAB>number<TAB>path<TAB>state (added, changed, moved, unchanged, or - without --since).\n"
      "Exit status: 0 no reports, 1 reports found, 2 trouble.\n";

namespace {

Snapshot readSince(const QByteArray& given)
{
    QByteArray path = given;
    struct stat st;
    const bool digits = !given.isEmpty()
        && std::all_of(given.begin(), given.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (::stat(given.constData(), &st) != 0 && digits) {
        path = SnapshotStore(SnapshotStore::defaultFolder()).pathOf(given.toInt());
        if (path.isEmpty() || ::stat(path.constData(), &st) != 0)
            throw Failure(QStringLiteral("there is no kept snapshot numbered %1 (see: mendwell snapshots)")
                              .arg(QString::fromLatin1(given)));
    }
    const QByteArray bytes = readWholeFile(path);
    if (!looksLikeSnapshot(bytes))
        throw Failure(QStringLiteral("%1 is no snapshot: only a snapshot tells which mods changed")
                          .arg(displayPath(given)));
    try {
        return decodeSnapshot(bytes);
    } catch (const Failure& failure) {
        throw Failure(displayPath(path) + QStringLiteral(": ") + failure.message());
    }
}

QString timeText(qint64 ns)
{
    return QDateTime::fromMSecsSinceEpoch(ns / 1000000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString kindText(ErrorReportKind kind)
{
    switch (kind) {
    case ErrorReportKind::Exception:
        return QStringLiteral("an error in the game's scripts");
    case ErrorReportKind::UiException:
        return QStringLiteral("an error in the game's screens and menus");
    case ErrorReportKind::Crash:
        return QStringLiteral("a crash of the game");
    }
    return {};
}

QByteArray stateName(const GameErrorReports& findings, const QByteArray& path)
{
    if (!findings.compared)
        return QByteArrayLiteral("-");
    const auto it = findings.changes.constFind(path);
    return it == findings.changes.constEnd() ? QByteArrayLiteral("unchanged") : changeKindName(*it);
}

QString stateText(const GameErrorReports& findings, const QByteArray& path)
{
    if (!findings.compared)
        return {};
    const auto it = findings.changes.constFind(path);
    if (it == findings.changes.constEnd())
        return QStringLiteral("  (as it was in the snapshot)");
    switch (*it) {
    case ChangeKind::Added:
        return QStringLiteral("  (new since the snapshot)");
    case ChangeKind::Changed:
        return QStringLiteral("  (changed since the snapshot)");
    case ChangeKind::Moved:
        return QStringLiteral("  (moved since the snapshot)");
    case ChangeKind::Removed:
        break;
    }
    return {};
}

void writeTsv(const GameErrorReports& findings, const ModuleFinder& finder, QByteArray& out)
{
    for (const ErrorReportFile& file : findings.files) {
        for (qsizetype i = 0; i < file.reports.size(); ++i) {
            const ErrorReport& report = file.reports.at(i);
            const QByteArray number = QByteArray::number(i + 1);
            out += "report\t" + tsvField(file.name) + '\t' + number + '\t' + errorReportKindName(file.kind)
                + '\t' + tsvField(report.time.toUtf8()) + '\t' + tsvField(report.error.toUtf8()) + '\n';
            for (qsizetype mod : modsBehind(report, finder)) {
                const QByteArray& path = findings.mods.at(mod).path;
                out += "mod\t" + tsvField(file.name) + '\t' + number + '\t' + tsvField(path) + '\t'
                    + stateName(findings, path) + '\n';
            }
        }
    }
}

void writeJson(const GameErrorReports& findings, const ModuleFinder& finder, QByteArray& out)
{
    out += "{\n  \"folder\": " + jsonString(findings.gameFolder)
        + ",\n  \"compared\": " + (findings.compared ? "true" : "false") + ",\n  \"reports\": [";
    bool first = true;
    for (const ErrorReportFile& file : findings.files) {
        for (const ErrorReport& report : file.reports) {
            out += (first ? "\n" : ",\n");
            first = false;
            out += "    {\"file\": " + jsonString(file.name) + ", \"kind\": \""
                + errorReportKindName(file.kind) + "\", \"time\": " + jsonString(report.time.toUtf8())
                + ", \"fileTime\": " + jsonString(timeText(file.mtimeNs).toUtf8()) + ", \"error\": "
                + jsonString(report.error.toUtf8()) + ", \"repeats\": " + QByteArray::number(report.repeats)
                + ", \"cutShort\": " + (report.cutShort ? "true" : "false") + ", \"frames\": [";
            for (qsizetype f = 0; f < report.frames.size(); ++f) {
                const TracebackFrame& frame = report.frames.at(f);
                out += (f ? ", " : "") + QByteArray("{\"path\": ") + jsonString(frame.path.toUtf8())
                    + ", \"line\": " + QByteArray::number(frame.line)
                    + ", \"function\": " + jsonString(frame.function.toUtf8()) + ", \"mods\": [";
                const QList<qsizetype> mods = finder.modsOf(frame.path);
                for (qsizetype m = 0; m < mods.size(); ++m)
                    out += (m ? ", " : "") + jsonString(findings.mods.at(mods.at(m)).path);
                out += "]}";
            }
            out += "], \"mods\": [";
            const QList<qsizetype> mods = modsBehind(report, finder);
            for (qsizetype m = 0; m < mods.size(); ++m) {
                const QByteArray& path = findings.mods.at(mods.at(m)).path;
                out += (m ? ", " : "") + QByteArray("{\"path\": ") + jsonString(path) + ", \"state\": \""
                    + stateName(findings, path) + "\"}";
            }
            out += "]}";
        }
    }
    out += first ? "],\n" : "\n  ],\n";
    out += "  \"unreadable\": [";
    for (qsizetype i = 0; i < findings.problems.size(); ++i)
        out += (i ? ", " : "") + QByteArray("{\"path\": ") + jsonString(findings.problems.at(i).path)
            + ", \"reason\": " + jsonString(findings.problems.at(i).reason) + "}";
    out += "]\n}\n";
}

void writeText(const GameErrorReports& findings, const ModuleFinder& finder, QByteArray& out)
{
    qsizetype reports = 0;
    for (const ErrorReportFile& file : findings.files)
        reports += file.reports.size();
    if (findings.files.isEmpty()) {
        out += QStringLiteral("No error reports in %1.\n").arg(displayPath(findings.gameFolder)).toUtf8();
        return;
    }
    out += QStringLiteral("Error reports in %1: %2 in %3.\n")
               .arg(displayPath(findings.gameFolder),
                   reports == 1 ? QStringLiteral("1 report") : QStringLiteral("%1 reports").arg(reports),
                   findings.files.size() == 1 ? QStringLiteral("1 file")
                                              : QStringLiteral("%1 files").arg(findings.files.size()))
               .toUtf8();
    bool named = false;
    for (const ErrorReportFile& file : findings.files) {
        out += QStringLiteral("\n%1: %2\n").arg(displayPath(file.name), kindText(file.kind)).toUtf8();
        if (file.reports.isEmpty())
            out += "  No report in it.\n";
        for (const ErrorReport& report : file.reports) {
            QString head = report.time.isEmpty()
                ? QStringLiteral("  (no time given; the file was written %1)").arg(timeText(file.mtimeNs))
                : QStringLiteral("  %1").arg(displayPath(report.time.toUtf8()));
            if (report.repeats > 1)
                head += QStringLiteral("  (written %1 times)").arg(report.repeats);
            out += (head + u'\n').toUtf8();
            if (report.cutShort)
                out += "  The report is cut short or no well-formed XML: shown as far as it could be read.\n";
            if (!report.error.isEmpty())
                out += QStringLiteral("  %1\n").arg(displayPath(report.error.toUtf8())).toUtf8();
            const QList<qsizetype> mods = modsBehind(report, finder);
            if (report.frames.isEmpty()) {
                out += "  No traceback in it.\n";
            } else if (mods.isEmpty()) {
                out += "  No installed script mod in its traceback: its lines are the game's own, or of a "
                       "mod no "
                       "longer in Mods.\n";
            } else {
                named = true;
                out += "  Script mods in its traceback, nearest the error first:\n";
                for (qsizetype mod : mods) {
                    const QByteArray& path = findings.mods.at(mod).path;
                    out += QStringLiteral("    %1%2\n")
                               .arg(displayPath(path), stateText(findings, path))
                               .toUtf8();
                }
                const bool shared = std::any_of(report.frames.cbegin(), report.frames.cend(),
                    [&finder](const TracebackFrame& frame) { return finder.modsOf(frame.path).size() > 1; });
                if (shared)
                    out += "  Some of its lines are of a module that more than one of these mods provide: "
                           "the game "
                           "ran it from one of them (see: mendwell check).\n";
            }
        }
    }
    if (named)
        out += "\nA mod named is where the error happened, not always its cause: look at it first (is there "
               "an "
               "update for the game as it is now?), or take it out with mendwell quarantine and see whether "
               "the "
               "error comes back. Nothing was moved.\n";
}

}

int errorsCommand(const QByteArray& folder, const QByteArray& since, const QByteArray& format,
    QByteArray& out, std::FILE* err)
{
    if (format != "text" && format != "tsv" && format != "json")
        throw Failure(QStringLiteral("unknown format %1 (give text, tsv or json)").arg(displayPath(format)));
    std::optional<Snapshot> before;
    if (!since.isEmpty())
        before = readSince(since);
    const GameErrorReports findings = readGameErrorReports(folder, before ? &*before : nullptr);
    for (const ScanProblem& problem : findings.problems) {
        const QByteArray path
            = problem.path.isEmpty() ? findings.gameFolder : findings.gameFolder + '/' + problem.path;
        std::fprintf(err, "mendwell: cannot read %s: %s\n", displayPath(path).toUtf8().constData(),
            problem.reason.constData());
    }
    const ModuleFinder finder = findings.finder();
    if (format == "tsv")
        writeTsv(findings, finder, out);
    else if (format == "json")
        writeJson(findings, finder, out);
    else
        writeText(findings, finder, out);
    if (!findings.problems.isEmpty())
        return ExitStatus::Trouble;
    const bool any = std::any_of(findings.files.cbegin(), findings.files.cend(),
        [](const ErrorReportFile& file) { return !file.reports.isEmpty(); });
    return any ? ExitStatus::Found : ExitStatus::Done;
}
