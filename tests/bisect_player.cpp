// SPDX-License-Identifier: GPL-3.0-or-later
// Plays 50/50 sessions on a store without end, as fast as it can, so a test can kill it with
// SIGKILL at any moment: arguments STORE FOLDER GROUPS CULPRIT. The game is broken exactly when the
// culprit group is in the folder; which groups are in follows from the session alone.
// With STORE FOLDER answer works|broken ROUND it gives one answer (ROUND -1: none named) once a line
// comes on its input, so a test can start two at the same moment; it exits 0 when the answer was
// taken and 3, saying why, when it was refused as out of turn.
#include "bisect.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {

int answerOnce(const QString& storePath, const QString& folder, bool works, int round)
{
    try {
        mending::BisectStore store(storePath);
        QTextStream(stdout) << "ready" << Qt::endl;
        QTextStream(stdin).readLine();
        store.answer(folder, works ? mending::BisectAnswer::Works : mending::BisectAnswer::Broken, round);
        return 0;
    } catch (const mending::BisectError& error) {
        QTextStream(stderr) << error.message() << '\n';
        return error.kind() == mending::BisectError::OutOfTurn ? 3 : 1;
    }
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 6 && arguments[3] == u"answer"_s)
        return answerOnce(arguments[1], arguments[2], arguments[4] == u"works"_s, arguments[5].toInt());
    if (arguments.size() != 5) {
        QTextStream(stderr) << "usage: bisect_player STORE FOLDER GROUPS CULPRIT\n";
        return 2;
    }
    const QString folder = arguments[2];
    const int count = arguments[3].toInt();
    const int culprit = arguments[4].toInt();
    QList<mending::BisectGroup> groups;
    for (int i = 0; i < count; ++i)
        groups.append({ u"Mod %1"_s.arg(i), { "Mods/mod " + QByteArray::number(i) + ".package" } });

    try {
        mending::BisectStore store(arguments[1]);
        // Each line tells the test that one more step is on disk, so it can choose the step to cut into.
        QTextStream out(stdout);
        out << "ready" << Qt::endl;
        for (;; out << "step" << Qt::endl) {
            const std::optional<mending::BisectSession> session = store.load(folder);
            if (!session || (!session->running() && !session->movesPending()))
                store.start(folder, groups);
            else if (session->movesPending())
                store.movesDone(folder, session->step());
            else
                store.answer(folder,
                    session->out().contains(culprit) ? mending::BisectAnswer::Works
                                                     : mending::BisectAnswer::Broken,
                    session->round());
        }
    } catch (const mending::BisectError& error) {
        QTextStream(stderr) << error.message() << '\n';
        return 1;
    }
}
