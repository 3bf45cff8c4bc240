// SPDX-License-Identifier: GPL-3.0-or-later
#include "conflictscommand.h"

#include "commandline.h"
#include "conflicts.h"
#include "pathtext.h"
#include "scan.h"

#include <QLocale>

using namespace mending;

const char conflictsHelp[]
    = "Usage: mendwell conflicts FOLDER [--format text|tsv|json]\n"
      "\n"
      "Reads the index of every .package file the game loads below FOLDER (never the rest of the file)\n"
      "and names the mods that hold the same resource (type, group and instance all equal): the game\n"
      "uses only one of them. Each clash says how many resources the mods share and of which kinds,\n"
      "and how much it matters: high for tuning, SimData and behaviour (the game plays differently),\n"
      "medium for content (a CAS part, an object, a mesh, a text replaced), low for looks (thumbnails,\n"
      "images, sounds). Where a public rule says which mod the game uses (The Sims 2: in one folder,\n"
      "the last in alphabetical order), it is named; otherwise it is one of them.\n"
      "Damaged packages (an index that does not fit the file) are named too. Nothing is moved.\n"
      "tsv lines: clash<TAB>severity<TAB>shared<TAB>type:count,...<TAB>used-or-dash<TAB>path<TAB>path...,\n"
      "damaged<TAB>path<TAB>reason, not-read<TAB>path<TAB>reason.\n"
      "Exit status: 0 no clashes, 1 clashes or damaged packages found, 2 trouble.\n";

namespace {

QString number(qint64 value)
{
    return QLocale().toString(value);
}

QString plural(qint64 count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(number(count), QLatin1String(count == 1 ? one : many));
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

QByteArray hexType(quint32 type)
{
    return "0x" + QByteArray::number(type, 16).rightJustified(8, '0').toUpper();
}

void writeText(const QByteArray& root, const ConflictReport& report, QByteArray& out)
{
    out += QStringLiteral("Read %1 (%2) in %3: %4.\n")
               .arg(plural(report.packages, "package", "packages"),
                   plural(report.resources, "resource", "resources"), displayPath(root),
                   report.conflicts.isEmpty() ? QStringLiteral("no clashes")
                                              : plural(report.conflicts.size(), "clash", "clashes"))
               .toUtf8();
    for (qsizetype i = 0; i < report.conflicts.size(); ++i) {
        const Conflict& conflict = report.conflicts.at(i);
        out += QStringLiteral("\n%1. %2: %3 hold the same %4 (%5)\n")
                   .arg(i + 1)
                   .arg(severityWords(conflict.severity), plural(conflict.packages.size(), "mod", "mods"),
                       plural(conflict.shared, "resource", "resources"), describeKinds(conflict.kinds))
                   .toUtf8();
        for (const QByteArray& path : conflict.packages)
            out += QStringLiteral("     %1\n").arg(displayPath(path)).toUtf8();
        if (conflict.used >= 0)
            out += QStringLiteral(
                "   The game uses %1: it loads the packages of a folder in alphabetical order, "
                "and the last one wins.\n")
                       .arg(displayPath(conflict.packages.at(conflict.used)))
                       .toUtf8();
        else
            out += "   The game uses one of them; no public source says which.\n";
    }
    if (!report.damaged.isEmpty()) {
        out += QStringLiteral("\nDamaged packages (the game may fail to load them): %1\n")
                   .arg(report.damaged.size())
                   .toUtf8();
        for (const PackageTrouble& trouble : report.damaged)
            out += QStringLiteral("    %1: %2\n").arg(displayPath(trouble.path), trouble.reason).toUtf8();
    }
    if (!report.notRead.isEmpty()) {
        out += QStringLiteral("\nPackages not read: %1\n").arg(report.notRead.size()).toUtf8();
        for (const PackageTrouble& trouble : report.notRead)
            out += QStringLiteral("    %1: %2\n").arg(displayPath(trouble.path), trouble.reason).toUtf8();
    }
    if (!report.conflicts.isEmpty())
        out += "\nOf mods that clash, keep the one you want and move the other out of the folder, or ask "
               "their\n"
               "authors whether they are meant to go together (some mods ship patches for each other). A "
               "clash\n"
               "of looks only (the same thumbnail twice) is harmless. Nothing was moved.\n";
}

void writeTsv(const ConflictReport& report, QByteArray& out)
{
    for (const Conflict& conflict : report.conflicts) {
        out += "clash\t" + severityName(conflict.severity) + '\t' + QByteArray::number(conflict.shared)
            + '\t';
        for (qsizetype k = 0; k < conflict.kinds.size(); ++k)
            out += (k ? "," : "") + hexType(conflict.kinds.at(k).first) + ':'
                + QByteArray::number(conflict.kinds.at(k).second);
        out += '\t' + (conflict.used >= 0 ? tsvField(conflict.packages.at(conflict.used)) : QByteArray("-"));
        for (const QByteArray& path : conflict.packages)
            out += '\t' + tsvField(path);
        out += '\n';
    }
    for (const PackageTrouble& trouble : report.damaged)
        out += "damaged\t" + tsvField(trouble.path) + '\t' + tsvField(trouble.reason.toUtf8()) + '\n';
    for (const PackageTrouble& trouble : report.notRead)
        out += "not-read\t" + tsvField(trouble.path) + '\t' + tsvField(trouble.reason.toUtf8()) + '\n';
}

void writeTroublesJson(const QList<PackageTrouble>& troubles, QByteArray& out)
{
    out += "[";
    for (qsizetype i = 0; i < troubles.size(); ++i)
        out += QByteArray(i ? ", " : "") + "{\"path\": " + jsonString(troubles.at(i).path)
            + ", \"reason\": " + jsonString(troubles.at(i).reason.toUtf8()) + "}";
    out += "]";
}

void writeJson(const QByteArray& root, const ConflictReport& report, QByteArray& out)
{
    out += "{\n  \"folder\": " + jsonString(root)
        + ",\n  \"packages\": " + QByteArray::number(report.packages)
        + ",\n  \"resources\": " + QByteArray::number(report.resources) + ",\n  \"clashes\": [";
    for (qsizetype i = 0; i < report.conflicts.size(); ++i) {
        const Conflict& conflict = report.conflicts.at(i);
        out += QByteArray(i ? ",\n" : "\n") + "    {\"severity\": \"" + severityName(conflict.severity)
            + "\", \"shared\": " + QByteArray::number(conflict.shared) + ", \"kinds\": [";
        for (qsizetype k = 0; k < conflict.kinds.size(); ++k)
            out += QByteArray(k ? ", " : "") + "{\"type\": \"" + hexType(conflict.kinds.at(k).first)
                + "\", \"name\": " + jsonString(resourceTypeName(conflict.kinds.at(k).first).toUtf8())
                + ", \"count\": " + QByteArray::number(conflict.kinds.at(k).second) + "}";
        out += "], \"packages\": [";
        for (qsizetype p = 0; p < conflict.packages.size(); ++p)
            out += (p ? ", " : "") + jsonString(conflict.packages.at(p));
        out += "], \"used\": "
            + (conflict.used >= 0 ? jsonString(conflict.packages.at(conflict.used)) : QByteArray("null"))
            + "}";
    }
    out += report.conflicts.isEmpty() ? "],\n" : "\n  ],\n";
    out += "  \"damaged\": ";
    writeTroublesJson(report.damaged, out);
    out += ",\n  \"notRead\": ";
    writeTroublesJson(report.notRead, out);
    out += "\n}\n";
}

}

int conflictsCommand(const QByteArray& folder, const QByteArray& format, QByteArray& out, std::FILE* err)
{
    const QByteArray root = canonicalFolder(folder);
    const ScanResult scan = scanFolder(root);
    const ConflictReport report = findConflicts(root, scan.files);
    for (const ScanProblem& problem : scan.problems + report.unreadable) {
        const QByteArray path = problem.path.isEmpty() ? root : root + '/' + problem.path;
        std::fprintf(err, "mendwell: cannot read %s: %s\n", displayPath(path).toUtf8().constData(),
            problem.reason.constData());
    }
    if (format == "tsv")
        writeTsv(report, out);
    else if (format == "json")
        writeJson(root, report, out);
    else
        writeText(root, report, out);
    if (!scan.problems.isEmpty() || !report.unreadable.isEmpty())
        return ExitStatus::Trouble;
    return report.conflicts.isEmpty() && report.damaged.isEmpty() ? ExitStatus::Done : ExitStatus::Found;
}
