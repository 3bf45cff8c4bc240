// SPDX-License-Identifier: GPL-3.0-or-later
// The report module's writers for what is inside the mods: clashes between packages and the game's own
// error reports.
#include "report.h"

#include "pathtext.h"
#include "resourcetypes.h"

#include <algorithm>

namespace mending {

namespace {

QString plural(qint64 count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(countText(count), QLatin1String(count == 1 ? one : many));
}

}

QString severityWords(ClashSeverity severity)
{
    switch (severity) {
    case ClashSeverity::High:
        return QStringLiteral("High (how the game plays)");
    case ClashSeverity::Medium:
        return QStringLiteral("Medium (content replaced)");
    case ClashSeverity::Low:
        return QStringLiteral("Low (looks only)");
    }
    return {};
}

namespace {

QByteArray hexType(quint32 type)
{
    return "0x" + QByteArray::number(type, 16).rightJustified(8, '0').toUpper();
}

void writeConflictsText(const QByteArray& root, const ConflictReport& report, Output& out)
{
    out << QStringLiteral("Read %1 (%2) in %3: %4.\n")
               .arg(plural(report.packages, "package", "packages"),
                   plural(report.resources, "resource", "resources"), displayPath(root),
                   report.conflicts.isEmpty() ? QStringLiteral("no clashes")
                                              : plural(report.conflicts.size(), "clash", "clashes"))
               .toUtf8();
    for (qsizetype i = 0; i < report.conflicts.size(); ++i) {
        const Conflict& conflict = report.conflicts.at(i);
        out << QStringLiteral("\n%1. %2: %3 hold the same %4 (%5)\n")
                   .arg(i + 1)
                   .arg(severityWords(conflict.severity), plural(conflict.packages.size(), "mod", "mods"),
                       plural(conflict.shared, "resource", "resources"), describeKinds(conflict.kinds))
                   .toUtf8();
        for (const QByteArray& path : conflict.packages)
            out << QStringLiteral("     %1\n").arg(displayPath(path)).toUtf8();
        if (conflict.used >= 0)
            out << QStringLiteral(
                "   The game uses %1: it loads the packages of a folder in alphabetical order, "
                "and the last one wins.\n")
                       .arg(displayPath(conflict.packages.at(conflict.used)))
                       .toUtf8();
        else
            out << "   The game uses one of them; no public source says which.\n";
    }
    if (!report.damaged.isEmpty()) {
        out << QStringLiteral("\nDamaged packages (the game may fail to load them): %1\n")
                   .arg(report.damaged.size())
                   .toUtf8();
        for (const PackageTrouble& trouble : report.damaged)
            out << QStringLiteral("    %1: %2\n").arg(displayPath(trouble.path), trouble.reason).toUtf8();
    }
    if (!report.notRead.isEmpty()) {
        out << QStringLiteral("\nPackages not read: %1\n").arg(report.notRead.size()).toUtf8();
        for (const PackageTrouble& trouble : report.notRead)
            out << QStringLiteral("    %1: %2\n").arg(displayPath(trouble.path), trouble.reason).toUtf8();
    }
    if (!report.conflicts.isEmpty())
        out << "\nOf mods that clash, keep the one you want and move the other out of the folder, or ask "
               "their\n"
               "authors whether they are meant to go together (some mods ship patches for each other). A "
               "clash\n"
               "of looks only (the same thumbnail twice) is harmless. Nothing was moved.\n";
}

void writeConflictsTsv(const ConflictReport& report, Output& out)
{
    for (const Conflict& conflict : report.conflicts) {
        out << "clash\t" + severityName(conflict.severity) + '\t' + QByteArray::number(conflict.shared)
                + '\t';
        for (qsizetype k = 0; k < conflict.kinds.size(); ++k)
            out << (k ? "," : "") + hexType(conflict.kinds.at(k).first) + ':'
                    + QByteArray::number(conflict.kinds.at(k).second);
        out << '\t' + (conflict.used >= 0 ? tsvField(conflict.packages.at(conflict.used)) : QByteArray("-"));
        for (const QByteArray& path : conflict.packages)
            out << '\t' + tsvField(path);
        out << '\n';
    }
    for (const PackageTrouble& trouble : report.damaged)
        out << "damaged\t" + tsvField(trouble.path) + '\t' + tsvField(trouble.reason.toUtf8()) + '\n';
    for (const PackageTrouble& trouble : report.notRead)
        out << "not-read\t" + tsvField(trouble.path) + '\t' + tsvField(trouble.reason.toUtf8()) + '\n';
}

void writeTroublesJson(const QList<PackageTrouble>& troubles, Output& out)
{
    out << "[";
    for (qsizetype i = 0; i < troubles.size(); ++i)
        out << QByteArray(i ? ", " : "") + "{\"path\": " + jsonString(troubles.at(i).path)
                + ", \"reason\": " + jsonString(troubles.at(i).reason.toUtf8()) + "}";
    out << "]";
}

void writeConflictsJson(const QByteArray& root, const ConflictReport& report, Output& out)
{
    out << "{\n  \"folder\": " + jsonString(root)
            + ",\n  \"packages\": " + QByteArray::number(report.packages)
            + ",\n  \"resources\": " + QByteArray::number(report.resources) + ",\n  \"clashes\": [";
    for (qsizetype i = 0; i < report.conflicts.size(); ++i) {
        const Conflict& conflict = report.conflicts.at(i);
        out << QByteArray(i ? ",\n" : "\n") + "    {\"severity\": \"" + severityName(conflict.severity)
                + "\", \"shared\": " + QByteArray::number(conflict.shared) + ", \"kinds\": [";
        for (qsizetype k = 0; k < conflict.kinds.size(); ++k)
            out << QByteArray(k ? ", " : "") + "{\"type\": \"" + hexType(conflict.kinds.at(k).first)
                    + "\", \"name\": " + jsonString(resourceTypeName(conflict.kinds.at(k).first).toUtf8())
                    + ", \"count\": " + QByteArray::number(conflict.kinds.at(k).second) + "}";
        out << "], \"packages\": [";
        for (qsizetype p = 0; p < conflict.packages.size(); ++p)
            out << (p ? ", " : "") + jsonString(conflict.packages.at(p));
        out << "], \"used\": "
                + (conflict.used >= 0 ? jsonString(conflict.packages.at(conflict.used)) : QByteArray("null"))
                + "}";
    }
    out << (report.conflicts.isEmpty() ? "],\n" : "\n  ],\n");
    out << "  \"damaged\": ";
    writeTroublesJson(report.damaged, out);
    out << ",\n  \"notRead\": ";
    writeTroublesJson(report.notRead, out);
    out << "\n}\n";
}
}

QString errorReportKindText(ErrorReportKind kind)
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

namespace {

QByteArray stateName(const GameErrorReports& findings, const QByteArray& path)
{
    if (!findings.compared)
        return QByteArrayLiteral("-");
    const auto it = findings.changes.constFind(path);
    return it == findings.changes.constEnd() ? QByteArrayLiteral("unchanged") : changeKindName(*it);
}

}

QString sinceSnapshotText(const GameErrorReports& findings, const QByteArray& path)
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

namespace {

void writeErrorsTsv(const GameErrorReports& findings, const ModuleFinder& finder, Output& out)
{
    for (const ErrorReportFile& file : findings.files) {
        for (qsizetype i = 0; i < file.reports.size(); ++i) {
            const ErrorReport& report = file.reports.at(i);
            const QByteArray number = QByteArray::number(i + 1);
            out << "report\t" + tsvField(file.name) + '\t' + number + '\t' + errorReportKindName(file.kind)
                    + '\t' + tsvField(report.time.toUtf8()) + '\t' + tsvField(report.error.toUtf8()) + '\n';
            for (qsizetype mod : modsBehind(report, finder)) {
                const QByteArray& path = findings.mods.at(mod).path;
                out << "mod\t" + tsvField(file.name) + '\t' + number + '\t' + tsvField(path) + '\t'
                        + stateName(findings, path) + '\n';
            }
        }
    }
}

void writeErrorsJson(const GameErrorReports& findings, const ModuleFinder& finder, Output& out)
{
    out << "{\n  \"folder\": " + jsonString(findings.gameFolder)
            + ",\n  \"compared\": " + (findings.compared ? "true" : "false") + ",\n  \"reports\": [";
    bool first = true;
    for (const ErrorReportFile& file : findings.files) {
        for (const ErrorReport& report : file.reports) {
            out << (first ? "\n" : ",\n");
            first = false;
            out << "    {\"file\": " + jsonString(file.name) + ", \"kind\": \""
                    + errorReportKindName(file.kind) + "\", \"time\": " + jsonString(report.time.toUtf8())
                    + ", \"fileTime\": " + jsonString(timeText(file.mtimeNs).toUtf8())
                    + ", \"error\": " + jsonString(report.error.toUtf8())
                    + ", \"repeats\": " + QByteArray::number(report.repeats)
                    + ", \"cutShort\": " + (report.cutShort ? "true" : "false") + ", \"frames\": [";
            for (qsizetype f = 0; f < report.frames.size(); ++f) {
                const TracebackFrame& frame = report.frames.at(f);
                out << (f ? ", " : "") + QByteArray("{\"path\": ") + jsonString(frame.path.toUtf8())
                        + ", \"line\": " + QByteArray::number(frame.line)
                        + ", \"function\": " + jsonString(frame.function.toUtf8()) + ", \"mods\": [";
                const QList<qsizetype> mods = finder.modsOf(frame.path);
                for (qsizetype m = 0; m < mods.size(); ++m)
                    out << (m ? ", " : "") + jsonString(findings.mods.at(mods.at(m)).path);
                out << "]}";
            }
            out << "], \"mods\": [";
            const QList<qsizetype> mods = modsBehind(report, finder);
            for (qsizetype m = 0; m < mods.size(); ++m) {
                const QByteArray& path = findings.mods.at(mods.at(m)).path;
                out << (m ? ", " : "") + QByteArray("{\"path\": ") + jsonString(path) + ", \"state\": \""
                        + stateName(findings, path) + "\"}";
            }
            out << "]}";
        }
    }
    out << (first ? "],\n" : "\n  ],\n");
    out << "  \"unreadable\": [";
    for (qsizetype i = 0; i < findings.problems.size(); ++i)
        out << (i ? ", " : "") + QByteArray("{\"path\": ") + jsonString(findings.problems.at(i).path)
                + ", \"reason\": " + jsonString(findings.problems.at(i).reason) + "}";
    out << "]\n}\n";
}

void writeErrorsText(const GameErrorReports& findings, const ModuleFinder& finder, Output& out)
{
    qsizetype reports = 0;
    for (const ErrorReportFile& file : findings.files)
        reports += file.reports.size();
    if (findings.files.isEmpty()) {
        out << QStringLiteral("No error reports in %1.\n").arg(displayPath(findings.gameFolder)).toUtf8();
        return;
    }
    out << QStringLiteral("Error reports in %1: %2 in %3.\n")
               .arg(displayPath(findings.gameFolder),
                   reports == 1 ? QStringLiteral("1 report") : QStringLiteral("%1 reports").arg(reports),
                   findings.files.size() == 1 ? QStringLiteral("1 file")
                                              : QStringLiteral("%1 files").arg(findings.files.size()))
               .toUtf8();
    bool named = false;
    for (const ErrorReportFile& file : findings.files) {
        out << QStringLiteral("\n%1: %2\n")
                   .arg(displayPath(file.name), errorReportKindText(file.kind))
                   .toUtf8();
        if (file.reports.isEmpty())
            out << "  No report in it.\n";
        for (const ErrorReport& report : file.reports) {
            QString head = report.time.isEmpty()
                ? QStringLiteral("  (no time given; the file was written %1)").arg(timeText(file.mtimeNs))
                : QStringLiteral("  %1").arg(displayPath(report.time.toUtf8()));
            if (report.repeats > 1)
                head += QStringLiteral("  (written %1 times)").arg(report.repeats);
            out << (head + u'\n').toUtf8();
            if (report.cutShort)
                out << "  The report is cut short or no well-formed XML: shown as far as it could be read.\n";
            if (!report.error.isEmpty())
                out << QStringLiteral("  %1\n").arg(displayPath(report.error.toUtf8())).toUtf8();
            const QList<qsizetype> mods = modsBehind(report, finder);
            if (report.frames.isEmpty()) {
                out << "  No traceback in it.\n";
            } else if (mods.isEmpty()) {
                out << "  No installed script mod in its traceback: its lines are the game's own, or of a "
                       "mod no "
                       "longer in Mods.\n";
            } else {
                named = true;
                out << "  Script mods in its traceback, nearest the error first:\n";
                for (qsizetype mod : mods) {
                    const QByteArray& path = findings.mods.at(mod).path;
                    out << QStringLiteral("    %1%2\n")
                               .arg(displayPath(path), sinceSnapshotText(findings, path))
                               .toUtf8();
                }
                const bool shared = std::any_of(report.frames.cbegin(), report.frames.cend(),
                    [&finder](const TracebackFrame& frame) { return finder.modsOf(frame.path).size() > 1; });
                if (shared)
                    out << "  Some of its lines are of a module that more than one of these mods provide: "
                           "the game ran it from one of them (see: mendwell check).\n";
            }
        }
    }
    if (named)
        out << "\nThe mod a report names is where the error happened, not always its cause: look at it "
               "first (is there an update for the game as it is now?), or take it out with mendwell "
               "quarantine and see whether the error comes back. Nothing was moved.\n";
}
}

void writeConflicts(const QByteArray& root, const ConflictReport& report, ReportFormat format, Output& out)
{
    if (format == ReportFormat::Tsv)
        writeConflictsTsv(report, out);
    else if (format == ReportFormat::Json)
        writeConflictsJson(root, report, out);
    else
        writeConflictsText(root, report, out);
}

void writeErrorReports(const GameErrorReports& findings, ReportFormat format, Output& out)
{
    const ModuleFinder finder = findings.finder();
    if (format == ReportFormat::Tsv)
        writeErrorsTsv(findings, finder, out);
    else if (format == ReportFormat::Json)
        writeErrorsJson(findings, finder, out);
    else
        writeErrorsText(findings, finder, out);
}

}
