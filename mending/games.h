// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileentry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What Mendwell knows of each game generation, in one table: its title, where it reads mods and how
// deep, where household files belong, and the programs that are the game. Adding a generation or a rule
// is one entry here.
namespace mending {

// A folder the game reads: what players call it, and where it lies below the game's own folder.
struct GameFolderRule
{
    QString kind; // "Mods", "Tray", "Skins"
    QString path; // "Mods", "GameData/Skins"
};

// Files the game makes anew from what it loaded, below the game's own folder: they may move along
// with mods, since a stale cache can show or break what was taken out.
struct GameCacheRule
{
    QString path; // a file ("localthumbcache.package") or a folder ("WorldCaches")
    QString suffix; // for a folder, the ending of the files in it that are caches; empty for a file
};

struct GameRules
{
    int generation = 0; // 1..4
    QString title; // "The Sims 4"
    QByteArray modsFolder; // below the game's folder, "/" between folders: "Mods", "Mods/Packages"
    // The game's own folder lies in the player's Documents (Electronic Arts/The Sims 4), except for
    // the first game, whose folders lie in its install folder (recognised by its GameData folder).
    bool inInstallFolder = false;
    QList<GameFolderRule> folders; // the folders the game reads, the mods folder first
    QList<GameCacheRule> caches;
    // Folders below the mods folder at which the game still loads a file; -1 where public sources
    // establish no limit (then nothing is flagged as too deep).
    int deepestPackage = -1;
    int deepestScript = -1;
    // The household and lot files of the gallery (.trayitem, .blueprint, ...) belong in Tray, not in
    // the mods folder.
    bool hasTray = false;
    QStringList executables;
};

// The rules of a generation, or nullptr when it is not one of the games.
const GameRules* gameRules(int generation);

// The generation whose mods folder is a single folder named so ("Mods"), or 0 when none or several
// are (the older games both called it "Downloads").
int generationOfModsFolderName(const QString& name);

// How many folders up from one of its folders (given by kind) the game's own folder lies; 0 when the
// generation has no folder of that kind.
int foldersUpToGame(const GameRules& rules, const QString& kind);

// The rules of the game of a folder: the generation named, else the one its path tells, else The
// Sims 4's, the game most players with many mods have.
const GameRules& rulesOfFolder(const QByteArray& root, int generation = 0);

// Where the mods folder lies below root, as a prefix of the files' paths (relative to root), spelt
// as the files spell it; "" when root is the mods folder itself or holds none.
QByteArray modsFolderWithin(const QByteArray& root, const QList<FileEntry>& files, const GameRules& rules);

// The game a folder named so belongs to: "The Sims 4", "Die Sims 4", "Les Sims 3", "The Sims 2 Ultimate
// Collection", "The Sims" (1). 0 when the name is no game's.
int generationOfFolderName(const QString& name);

// The game a path lies in, from the innermost folder on it that is named like a game; 0 when none is.
int generationOfPath(const QByteArray& path);

}
