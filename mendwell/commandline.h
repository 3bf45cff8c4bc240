// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

#include <cstdio>

// Exit statuses of every command.
namespace ExitStatus {
constexpr int Done = 0;
constexpr int Found = 1; // differences (diff) or suspect files (check)
constexpr int Trouble = 2;
}

// Runs one command of the command line (the arguments after the program's name, as raw bytes, so
// folder names of any bytes reach the core unchanged) and returns its exit status.
int runCommand(const QList<QByteArray>& arguments, std::FILE* out, std::FILE* err);
