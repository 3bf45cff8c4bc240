// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "report.h"

#include <QByteArray>

#include <cstdio>

// "mendwell conflicts": the mods of a folder that hold the same resources.
extern const char conflictsHelp[];

// Writes the clashes among the packages below folder to out, in the format named ("text", "tsv" or
// "json"), and says on err what could not be read. Returns the exit status; throws mending::Failure
// when the folder cannot be read at all.
int conflictsCommand(
    const QByteArray& folder, mending::ReportFormat format, mending::Output& out, std::FILE* err);
