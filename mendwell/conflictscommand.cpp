// SPDX-License-Identifier: GPL-3.0-or-later
#include "conflictscommand.h"

#include "commandline.h"
#include "conflicts.h"
#include "pathtext.h"
#include "report.h"
#include "scan.h"

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

int conflictsCommand(const QByteArray& folder, ReportFormat format, Output& out, std::FILE* err)
{
    const QByteArray root = canonicalFolder(folder);
    // Each package is asked for its size once it is open, which costs less than asking by its name.
    const ScanResult scan = scanFolder(root, 0, nullptr, ScanFacts::Names);
    const ConflictReport report = findConflicts(root, scan.files);
    for (const ScanProblem& problem : scan.problems + report.unreadable) {
        const QByteArray path = problem.path.isEmpty() ? root : root + '/' + problem.path;
        std::fprintf(err, "mendwell: cannot read %s: %s\n", displayPath(path).toUtf8().constData(),
            problem.reason.constData());
    }
    writeConflicts(root, report, format, out);
    if (!scan.problems.isEmpty() || !report.unreadable.isEmpty())
        return ExitStatus::Trouble;
    return report.conflicts.isEmpty() && report.damaged.isEmpty() ? ExitStatus::Done : ExitStatus::Found;
}
