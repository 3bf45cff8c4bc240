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

// The processes that are one of the games, native or under Wine or Proton. generation 0 means any.
QList<RunningGame> runningGames(int generation = 0);

// Why files must not move now (a game of that generation is running), or nothing.
QString runningGameMessage(int generation);

}
