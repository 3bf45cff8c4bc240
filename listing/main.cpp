// SPDX-License-Identifier: GPL-3.0-or-later
#include "dirlistfrm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brenvale"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    DirListFrm window;
    window.show();
    window.moveToDesignPosition();
    return app.exec();
}
