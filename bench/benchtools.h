// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs an action several times and gives the best time in milliseconds: the figure least disturbed
// by whatever else the machine is doing.
template <typename Action> double bestOf(int runs, Action&& action)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        action();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

inline double shellMs(const QString& command, int runs = 3)
{
    return bestOf(runs, [&] { QProcess::execute(QStringLiteral("sh"), { QStringLiteral("-c"), command }); });
}

// Runs several actions by turns, runs rounds of one run each, and gives each one's best time in
// milliseconds. Taken by turns, all of them meet the machine in the same moods; a figure taken a
// second after its peer's can differ from it by a fifth on a busy machine for no reason of its own.
inline std::vector<double> bestByTurns(int runs, const std::vector<std::function<void()>>& actions)
{
    std::vector<double> best(actions.size(), 1e300);
    for (int round = 0; round < runs; ++round) {
        for (size_t i = 0; i < actions.size(); ++i)
            best[i] = std::min(best[i], bestOf(1, actions[i]));
    }
    return best;
}

inline std::function<void()> shellAction(const QString& command)
{
    return [command] { QProcess::execute(QStringLiteral("sh"), { QStringLiteral("-c"), command }); };
}

// A figure of this process's memory from /proc/self/status (VmRSS now, VmHWM its peak), in KiB.
inline long memoryKiB(const char* field)
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            kib = std::strtol(line + length + 1, nullptr, 10);
    }
    std::fclose(status);
    return kib;
}

// The peak resident memory, in KiB, of a shell command run to its end: the largest of the shell and
// every process it waited for, as wait4 reports them. Run from a small process (see --peak-of), since
// a child starts out counting the memory of the process it was forked from.
inline long shellPeakKiB(const char* command)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage
    {
    };
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

// One line of the table: what was measured and its time; with a peer, the peer's time of the same
// run beside it, the ratio, and whether the target ratio was met.
inline void report(const char* what, double ms)
{
    std::printf("  %-50s %9.1f ms\n", what, ms);
    std::fflush(stdout);
}

inline void reportAgainst(const char* what, double ms, double peerMs, double wantedRatio)
{
    const double ratio = peerMs / ms;
    std::printf("  %-50s %9.1f ms   peer %9.1f ms   peer/ours %5.2f  (target >= %.2f: %s)\n", what, ms,
        peerMs, ratio, wantedRatio, ratio >= wantedRatio ? "met" : "MISSED");
    std::fflush(stdout);
}

// One line with an absolute target: the time, and whether it stayed under the target.
inline void report(const char* what, double ms, double targetMs)
{
    std::printf(
        "  %-50s %9.1f ms   (target < %.0f ms: %s)\n", what, ms, targetMs, ms < targetMs ? "met" : "MISSED");
    std::fflush(stdout);
}
