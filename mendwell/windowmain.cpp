// SPDX-License-Identifier: GPL-3.0-or-later
#include "identity.h"
#include "mainwindow.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const int answered = Startup::answerFirst(argc, argv, "mendwell-window", "[FOLDER]",
        "Opens Mendwell's window, on FOLDER when one is given. The commands without a window are "
        "in \"mendwell --help\".");
    if (answered != Startup::goOn)
        return answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mendwell"));
    QApplication::setApplicationVersion(QStringLiteral(BRENVALE_VERSION));
    // Pairs the window with its menu entry, for the taskbar's icon and name.
    QGuiApplication::setDesktopFileName(QStringLiteral(BRENVALE_APP_ID_PREFIX ".mendwell"));
    MainWindow window;
    window.show();
    // A folder given opens at once: desktop entries and scripts can start Mendwell on one game.
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1)
        window.openFolder(arguments.at(1));
    return app.exec();
}
