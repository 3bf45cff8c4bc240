// SPDX-License-Identifier: GPL-3.0-or-later
#include "checkfilefrm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrel"));
    QApplication::setApplicationVersion(QStringLiteral("2.0"));
    CheckFileFrm window;
    window.show();
    return app.exec();
}
