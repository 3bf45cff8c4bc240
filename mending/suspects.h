// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileentry.h"

namespace mending {

// The reasons a file may keep the game from working. A flag explains itself and never acts by
// itself: the player decides.
enum class Suspect {
    ZeroBytes,
    NoPackageHeader,
    ScriptNotZip,
    ScriptUnloadable, // a ZIP archive the game cannot load modules from
    TooDeep,
    ArchiveInMods,
    Duplicate,
    BrowserCopy,
    TrayFileInMods,
    DoubledModsFolder,
    DuplicateModule, // a Python module that another script mod provides too
    WrongPython, // compiled modules the game's Python cannot load
};
// How many kinds there are; a new kind goes last, above this line's kind.
constexpr int suspectKinds = int(Suspect::WrongPython) + 1;

struct SuspectFlag
{
    Suspect suspect;
    QString reason; // one line a player understands

    friend bool operator==(const SuspectFlag&, const SuspectFlag&) = default;
};

// The short name of a flag, as tab-separated and JSON output give it ("zero-bytes", ...).
QByteArray suspectName(Suspect suspect);

// Files mods write while the game runs (.cfg, .log, .txt): listed apart, never flagged.
bool isNoise(const QByteArray& path);

// Where duplicates are looked for.
enum class DuplicateScope {
    AllFiles, // every file of the list: what "check" does
    CheckedFiles, // only among the files being checked: cheap enough for every "diff"
};

struct CheckedFile
{
    qsizetype index = 0; // into the list of files given
    QList<SuspectFlag> flags;
};

struct CheckReport
{
    QList<CheckedFile> suspects; // files with at least one flag, in the order given
    QList<qsizetype> noise; // indexes of noise files among those checked
    QList<ScanProblem> unreadable; // files whose content could not be read
};

// Checks the files at the given indexes (all of them when which is empty) of a folder's list, by the
// rules of the game of that generation (0: the game root's path names, else The Sims 4).
// When root is empty the content is not read: the checks of names, sizes and places still run.
// Root may be the game's mods folder or a folder above it: only the files in the mods folder are
// judged, by the rules of that game, counting folders from it.
CheckReport checkFiles(const QByteArray& root, const QList<FileEntry>& files, const QList<qsizetype>& which,
    DuplicateScope scope, int generation = 0);

}
