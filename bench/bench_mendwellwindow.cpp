// SPDX-License-Identifier: GPL-3.0-or-later
// How long Mendwell's window stops answering while it works on a big game folder: a timer asks for
// a tick every 10 ms, and the longest gap between two ticks is the longest the player waits for the
// window, while it scans and while it moves new files out and back. Each figure is printed beside its
// target, and beside the same timer's longest gap while the window has nothing to do (the machine's
// own noise) and the core's bare time for the work. "What changed?" is also timed from click to end
// beside the real `mendwell diff` on the same folder in the same run, and the process's memory is
// printed after each of several runs: a window left open for an evening must not grow with each look.
#include "benchtools.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Ticks every 10 ms and keeps the longest gap between two ticks.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setInterval(10);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &StallMeter::tick);
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    double stop()
    {
        tick();
        m_timer.stop();
        return m_longest / 1e6;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

void makeFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        if (::write(fd, "DBPF", 4) != 4) { } // a short file is still a file to list
        ::close(fd);
    }
}

// 100 files in each of 1,000 folders, 10 top folders of 10 of 10: the shape of a big Mods folder.
QList<QByteArray> makeTree(const QByteArray& root, int files)
{
    QList<QByteArray> paths;
    for (int i = 0; i < files; ++i) {
        const int folder = i / 100;
        const QByteArray a = root + "/Creator" + QByteArray::number(folder / 100);
        const QByteArray b = a + "/Set" + QByteArray::number(folder / 10 % 10);
        const QByteArray c = b + "/Part" + QByteArray::number(folder % 10);
        if (i % 100 == 0) {
            ::mkdir(a.constData(), 0755);
            ::mkdir(b.constData(), 0755);
            ::mkdir(c.constData(), 0755);
        }
        paths.append(c + "/item" + QByteArray::number(i) + ".package");
        makeFile(paths.last());
    }
    return paths;
}

// The memory of this process now and at its peak, after the window's work has ended.
void reportMemory(const char* what)
{
    std::printf("  %-50s RSS %7.1f MB   peak %7.1f MB\n", what, memoryKiB("VmRSS") / 1024.0,
        memoryKiB("VmHWM") / 1024.0);
    std::fflush(stdout);
}

// Clicks a button of the window and keeps the event loop running until the work it started ends.
double stallWhile(MainWindow& window, const char* button, StallMeter& meter, double& totalMs)
{
    QSignalSpy ended(&window, &MainWindow::workEnded);
    QElapsedTimer clock;
    clock.start();
    meter.start();
    window.findChild<QPushButton*>(QString::fromLatin1(button))->click();
    ended.wait(600000);
    totalMs = clock.nsecsElapsed() / 1e6;
    return meter.stop();
}

}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QApplication app(argc, argv);
    QTemporaryDir folderDir;
    const QByteArray root = QFile::encodeName(folderDir.path());
    const int files = 100000;
    std::printf("Mendwell's window: a folder of %d files in 1,000 folders\n", files);
    const QList<QByteArray> paths = makeTree(root, files);

    MainWindow window;
    window.show();
    window.openFolder(folderDir.path());
    StallMeter meter;

    QEventLoop idle;
    QTimer::singleShot(2000, &idle, &QEventLoop::quit);
    meter.start();
    idle.exec();
    report("idle window: longest gap in 2 s (the noise)", meter.stop());

    double total = 0;
    const double bareScan = bestOf(1, [&] { mending::scanFolder(root); });
    report("core alone: scan of the folder", bareScan);
    report("Remember (scan, save): longest stall", stallWhile(window, "cmdRemember", meter, total), 100);
    report("Remember: click to end", total);

    for (int i = 0; i < 1000; ++i)
        makeFile(paths.at(i * (files / 1000)) + ".new");
    report(
        "What changed? 1,000 added: longest stall", stallWhile(window, "cmdWhatChanged", meter, total), 100);
    report("What changed? 1,000 added: click to end", total);

    // The command line finds the same changes from the same snapshot, started as a player starts it.
    const QStringList snapshots
        = QDir(data.path() + u"/mendwell/snapshots"_s).entryList({ u"*.mwsnap"_s }, QDir::Files, QDir::Time);
    if (snapshots.isEmpty())
        qFatal("the window saved no snapshot");
    const QString diff = u"'%1' diff '%2/mendwell/snapshots/%3' '%4' > /dev/null"_s.arg(
        QStringLiteral(MENDWELL_EXECUTABLE), data.path(), snapshots.constFirst(), folderDir.path());
    reportMemory("memory before repeated runs");
    for (int run = 1; run <= 5; ++run) {
        const double peer = shellMs(diff, 1);
        stallWhile(window, "cmdWhatChanged", meter, total);
        // The window may take twice what the command line takes: it also builds the rows it shows.
        reportAgainst(qPrintable(u"What changed? 1,000 added, run %1 (peer: mendwell diff)"_s.arg(run)),
            total, peer, 0.5);
        reportMemory(qPrintable(u"  memory after run %1"_s.arg(run)));
    }

    // The hardest case for the view: every file is new since a snapshot of the empty folder.
    QTemporaryDir emptyDir;
    window.openFolder(emptyDir.path());
    stallWhile(window, "cmdRemember", meter, total);
    for (int i = 0; i < files; ++i)
        makeFile(QFile::encodeName(emptyDir.path()) + "/item" + QByteArray::number(i) + ".package");
    report(
        "What changed? 100,000 new: longest stall", stallWhile(window, "cmdWhatChanged", meter, total), 100);
    report("What changed? 100,000 new: click to end", total);
    reportMemory("  memory after run 1");
    for (int run = 2; run <= 5; ++run) {
        stallWhile(window, "cmdWhatChanged", meter, total);
        report(qPrintable(u"What changed? 100,000 new, run %1: click to end"_s.arg(run)), total);
        reportMemory(qPrintable(u"  memory after run %1"_s.arg(run)));
    }

    // Moving 5,000 new files out and back. The quarantine goes beside the game folder, so the folder
    // is one level down in a temporary folder of its own. The core alone moves them first, as the peer.
    const int moved = 5000;
    QTemporaryDir moveDir;
    const QByteArray mods = QFile::encodeName(moveDir.path()) + "/Mods";
    ::mkdir(mods.constData(), 0755);
    window.openFolder(QFile::decodeName(mods));
    stallWhile(window, "cmdRemember", meter, total);
    QList<QByteArray> relative;
    for (int i = 0; i < moved; ++i) {
        const QByteArray folder = "Set" + QByteArray::number(i / 100);
        if (i % 100 == 0)
            ::mkdir((mods + '/' + folder).constData(), 0755);
        relative.append(folder + "/item" + QByteArray::number(i) + ".package");
        makeFile(mods + '/' + relative.last());
    }
    // The files just made would otherwise be written out by the core's own sync, timed as if moving cost it.
    ::sync();
    {
        mending::Quarantine bare(QFile::decodeName(mods));
        QElapsedTimer clock;
        clock.start();
        bare.moveOut(relative);
        report("core alone: 5,000 files moved out", clock.nsecsElapsed() / 1e6);
        clock.restart();
        bare.restore();
        report("core alone: 5,000 files put back", clock.nsecsElapsed() / 1e6);
    }
    stallWhile(window, "cmdWhatChanged", meter, total);
    report(
        "Move the new files out, 5,000: longest stall", stallWhile(window, "cmdMoveOut", meter, total), 100);
    report("Move the new files out, 5,000: click to end", total);
    report("Put them back, 5,000: longest stall", stallWhile(window, "cmdPutBack", meter, total), 100);
    report("Put them back, 5,000: click to end", total);
    return 0;
}
