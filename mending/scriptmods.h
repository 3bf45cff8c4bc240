// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileentry.h"
#include "suspects.h"

#include <QHash>

// What the script mods of The Sims 4 (.ts4script files: ZIP archives of Python modules) hold, read from
// each archive's table of contents and the first bytes of its compiled modules: which modules each one
// provides, which module two of them provide, and which were compiled for another Python than the
// game's. The check, the error reports and the window read them from here.
namespace mending {

// The game runs CPython 3.7: a compiled module (.pyc) starts with this number (two bytes, low byte
// first) and "\r\n"; any other number is refused by the game's import.
constexpr int gamePythonMagic = 3394;

struct ScriptModule
{
    QByteArray entry; // its path inside the archive: "package/module.pyc"
    // For a compiled module, the number its first two bytes make (low byte first); -1 when its first
    // four bytes are no Python's (too short, or without "\r\n"), -2 for a source module (.py) and for a
    // compiled one that could not be read (locked by a password, packed in another way).
    int magic = -2;

    bool compiled() const { return entry.endsWith(".pyc"); }
    friend bool operator==(const ScriptModule&, const ScriptModule&) = default;
};

struct ScriptMod
{
    QByteArray path; // relative to the folder read
    QList<ScriptModule> modules; // in the archive's order
    bool opened = false; // false when the file is no ZIP archive the game can open
};

// The Python release a compiled module's number belongs to ("3.8", "2.7"), or empty when it belongs
// to none.
QString pythonVersionOfMagic(int magic);

// The module an archive's entry provides, as the import finds it: "package/module" for
// package/module.pyc or package/module.py, "package/__init__" for a package; empty for an entry that
// is no module (a folder, a file of another kind, a cache in __pycache__ or an __init__ outside any
// package, which the import never reads).
QByteArray moduleOfEntry(const QByteArray& entry);

// Reads one script mod below an open folder. An archive that cannot be opened comes back with
// opened false; a file that cannot be read at all is added to problems.
ScriptMod readScriptMod(int folderFd, const QByteArray& path, QList<ScanProblem>& problems);

// Reads the script mods the game loads from a folder's list (those of files below root given by
// index; all .ts4script files of the list when which is empty).
QList<ScriptMod> readScriptMods(const QByteArray& root, const QList<FileEntry>& files,
    const QList<qsizetype>& which, QList<ScanProblem>& problems);

// One module provided by more than one script mod: the game imports it from one of them only.
struct ModuleClash
{
    QByteArray module; // "package/module"
    QList<qsizetype> mods; // indexes into the list given, ascending

    friend bool operator==(const ModuleClash&, const ModuleClash&) = default;
};

// Every module that two or more of the mods provide, by module name.
QList<ModuleClash> moduleClashes(const QList<ScriptMod>& mods);

// The compiled modules of a mod that the game's Python cannot load.
QList<ScriptModule> wrongPythonModules(const ScriptMod& mod);

// The flags of each mod (by index into the list) that has a module clash or modules compiled for
// another Python: one flag per other mod it clashes with, and one for the wrong Python.
QHash<qsizetype, QList<SuspectFlag>> scriptModFlags(const QList<ScriptMod>& mods);

}
