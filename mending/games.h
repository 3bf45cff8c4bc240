// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What Mendwell knows of each game generation, in one table: its title, where it reads mods and how
// deep, where household files belong, and the programs that are the game. Adding a generation or a rule
// is one entry here.
namespace mending {

struct GameRules
{
    int generation = 0; // 1..4
    QString title; // "The Sims 4"
    QByteArray modsFolder; // below the game's folder, "/" between folders: "Mods", "Mods/Packages"
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

// The game a folder named so belongs to: "The Sims 4", "Die Sims 4", "Les Sims 3", "The Sims 2 Ultimate
// Collection", "The Sims" (1). 0 when the name is no game's.
int generationOfFolderName(const QString& name);

// The game a path lies in, from the innermost folder on it that is named like a game; 0 when none is.
int generationOfPath(const QByteArray& path);

}
