// Placeholder until the game-folder detection lands: finds nothing, so the commands build and run.
#include "gamefolders.h"

namespace mending {

QString runnerName(Runner runner)
{
    switch (runner) {
    case Runner::Native:
        return QStringLiteral("native");
    case Runner::SteamProton:
        return QStringLiteral("Steam Proton");
    case Runner::FlatpakSteam:
        return QStringLiteral("Flatpak Steam");
    case Runner::Wine:
        return QStringLiteral("Wine");
    case Runner::Lutris:
        return QStringLiteral("Lutris");
    case Runner::Bottles:
        return QStringLiteral("Bottles");
    }
    return {};
}

QList<GameFolder> findGameFolders(const QProcessEnvironment&)
{
    return {};
}

QStringList gameExecutableNames(int)
{
    return {};
}

QStringList gameCacheFiles(const GameFolder&)
{
    return {};
}

}
