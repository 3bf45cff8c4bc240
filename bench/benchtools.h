#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QTextStream>

#include <cstdio>

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

inline void report(const char* what, double ms, double targetMs = 0)
{
    if (targetMs > 0)
        std::printf("%-48s %9.1f ms   (target < %.0f ms: %s)\n", what, ms, targetMs,
            ms < targetMs ? "met" : "MISSED");
    else
        std::printf("%-48s %9.1f ms\n", what, ms);
    std::fflush(stdout);
}
