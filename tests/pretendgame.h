// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

// A process Mendwell takes for The Sims 4 running: a copy of sleep under the game's executable name.
class PretendGame
{
public:
    PretendGame()
    {
        const QString program = m_dir.filePath(QStringLiteral("TS4_x64.exe"));
        QFile::copy(QStringLiteral("/bin/sleep"), program);
        m_process.start(program, { QStringLiteral("120") });
    }
    ~PretendGame()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    PretendGame(const PretendGame&) = delete;
    PretendGame& operator=(const PretendGame&) = delete;

    // Whether the game shows among the processes; until the child has replaced itself with the
    // program, /proc shows the test's own name.
    bool running()
    {
        if (!m_process.waitForStarted())
            return false;
        const QString comm = QStringLiteral("/proc/%1/comm").arg(m_process.processId());
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            QFile file(comm);
            if (file.open(QIODevice::ReadOnly) && file.readAll().trimmed() == "TS4_x64.exe")
                return true;
            QThread::msleep(5);
        }
        return false;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};
