// SPDX-License-Identifier: GPL-3.0-or-later
#include "errorscommand.h"

#include "commandline.h"
#include "diff.h"
#include "errorreports.h"
#include "pathtext.h"
#include "report.h"
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
      "The mod a report names is where the error happened, not always its cause: nothing is moved.\n"
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

}

int errorsCommand(
    const QByteArray& folder, const QByteArray& since, ReportFormat format, Output& out, std::FILE* err)
{
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
    writeErrorReports(findings, format, out);
    if (!findings.problems.isEmpty())
        return ExitStatus::Trouble;
    const bool any = std::any_of(findings.files.cbegin(), findings.files.cend(),
        [](const ErrorReportFile& file) { return !file.reports.isEmpty(); });
    return any ? ExitStatus::Found : ExitStatus::Done;
}
