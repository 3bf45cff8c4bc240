// SPDX-License-Identifier: GPL-3.0-or-later
#include "runninggames.h"

#include "gamefolders.h"
#include "games.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <sys/stat.h>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace mending {

namespace {

bool readWhole(const QByteArray& path, QByteArray* content)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return true;
}

QString gameTitle(int generation)
{
    const GameRules* rules = gameRules(generation);
    return rules ? rules->title : QString();
}

QString baseName(const QByteArray& path)
{
    QByteArray name = path;
    const qsizetype slash = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
    if (slash >= 0)
        name = name.mid(slash + 1);
    return QString::fromUtf8(name);
}

// The process ids the player said are not the game, from MENDWELL_IGNORE_PID ("1234" or "1234,5678").
QSet<qint64> ignoredProcesses()
{
    QSet<qint64> ignored;
    for (const QByteArray& part : qgetenv("MENDWELL_IGNORE_PID").split(',')) {
        bool ok = false;
        const qint64 pid = part.trimmed().toLongLong(&ok);
        if (ok)
            ignored.insert(pid);
    }
    return ignored;
}

// A process that ended and waits for its parent to notice holds no file open; another user's game
// reads another user's folders.
bool livesAsUs(const QByteArray& base)
{
    struct stat st;
    if (::stat(base.constData(), &st) != 0 || st.st_uid != ::geteuid())
        return false;
    QByteArray stat;
    if (!readWhole(base + "/stat", &stat))
        return false;
    // The name in parentheses may hold anything, ") " included: the state follows the last one.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size())
        return false;
    const char state = stat.at(close + 2);
    return state != 'Z' && state != 'X' && state != 'x';
}
}

QList<RunningGame> runningGames(int generation)
{
    QHash<QString, int> names; // lower case name: generation
    for (int g = 1; g <= 4; ++g) {
        if (generation != 0 && g != generation)
            continue;
        for (const QString& name : gameExecutableNames(g))
            names.insert(name.toLower(), g);
    }
    // The kernel keeps only the first 15 bytes of a process's name.
    QHash<QString, QString> shortNames;
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        shortNames.insert(it.key().left(15), it.key());

    QList<RunningGame> games;
    const qint64 self = ::getpid();
    const QSet<qint64> ignored = ignoredProcesses();
    const QStringList pids = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pidText : pids) {
        bool isPid = false;
        const qint64 pid = pidText.toLongLong(&isPid);
        if (!isPid || pid == self || ignored.contains(pid))
            continue;
        const QByteArray base = "/proc/" + pidText.toLatin1();
        if (!livesAsUs(base))
            continue;
        QByteArray comm, cmdline;
        readWhole(base + "/comm", &comm);
        readWhole(base + "/cmdline", &cmdline);
        QString found;
        const QString commName = QString::fromUtf8(comm.trimmed()).toLower();
        if (shortNames.contains(commName))
            found = shortNames.value(commName);
        // Wine shows the Windows path of the program as its first argument; Proton and the wine
        // loader show it further on.
        const QList<QByteArray> args = cmdline.split('\0');
        bool loader = false;
        for (qsizetype i = 0; i < args.size() && found.isEmpty(); ++i) {
            const QString name = baseName(args.at(i)).toLower();
            if (i == 0 || loader) {
                if (names.contains(name))
                    found = name;
            }
            if (i <= 1 && (name.startsWith(u"wine"_s) || name == u"proton"_s))
                loader = true;
        }
        if (!found.isEmpty()) {
            QString shown = found;
            for (int g = 1; g <= 4; ++g) {
                for (const QString& name : gameExecutableNames(g)) {
                    if (name.toLower() == found)
                        shown = name;
                }
            }
            games.append({ pid, names.value(found), shown });
        }
    }
    return games;
}

QString runningGameMessage(int generation)
{
    const QList<RunningGame> games = runningGames(generation);
    if (games.isEmpty())
        return {};
    const RunningGame& game = games.first();
    return u"%1 is running (%2, process %3). Close the game first: files must not move while it reads them. "
           "If process %3 is not the game, set MENDWELL_IGNORE_PID=%3 and try again."_s.arg(
               gameTitle(game.generation), game.executable, QString::number(game.pid));
}

}
