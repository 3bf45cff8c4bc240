// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "report.h"

#include <QByteArray>

#include <cstdio>

// "mendwell errors": the game's error reports, and the script mods their tracebacks pass through.
extern const char errorsHelp[];

// Reads the reports of the game folder (or of the folder above a Mods folder given) and writes them to
// out in the format named ("text", "tsv" or "json"); since, when not empty, is the snapshot the mods
// are compared with. Problems met on the way are said on err. Throws mending::Failure when the
// command cannot be carried out; returns the exit status otherwise.
int errorsCommand(const QByteArray& folder, const QByteArray& since, mending::ReportFormat format,
    mending::Output& out, std::FILE* err);
