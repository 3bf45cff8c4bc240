// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
namespace mending {
enum class Runner { Native, SteamProton, FlatpakSteam, Wine, Lutris, Bottles };
QString runnerName(Runner runner); // "native", "Steam Proton", "Flatpak Steam", "Wine", "Lutris", "Bottles"
struct GameFolder
{
    int generation = 0; // 1..4 (The Sims 1..4)
    QString kind; // "Mods", "Mods/Packages", "Downloads", "Skins", ...
    Runner runner = Runner::Native;
    QString path; // absolute
};
// The game folders found on this computer, looking under HOME and the XDG variables of env.
QList<GameFolder> findGameFolders(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
// Executable file names of a game generation (for "refuse while the game runs").
QStringList gameExecutableNames(int generation);
// The cache files a generation rebuilds that should move along with a quarantine batch (absolute paths that
// exist).
QStringList gameCacheFiles(const GameFolder& folder);
}
