// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mendwell"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    MainWindow window;
    window.show();
    // A folder given opens at once: desktop entries and scripts can start Mendwell on one game.
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1)
        window.openFolder(arguments.at(1));
    return app.exec();
}
