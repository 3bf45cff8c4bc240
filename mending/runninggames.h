// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// Whether one of the games runs now: files must not move while the game reads them.
namespace mending {

struct RunningGame
{
    qint64 pid = 0;
    int generation = 0;
    QString executable;
};

// The processes that are one of the games, native or under Wine or Proton (its launcher included), run
// by this user and not yet ended (a zombie is not). generation 0 means any. The process ids listed in
// MENDWELL_IGNORE_PID ("1234" or "1234,5678") are never taken for the game: the way out of a false match.
QList<RunningGame> runningGames(int generation = 0);

// Why files must not move now (a game of that generation is running), or nothing: names the game's
// program and process id, and how to have that process ignored.
QString runningGameMessage(int generation);

}
