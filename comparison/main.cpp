// SPDX-License-Identifier: GPL-3.0-or-later
#include "checkfilefrm.h"
#include "identity.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const int answered = Startup::answerFirst(argc, argv, "quorrel", "",
        "Opens Quorrel's window, which compares two folder lists saved by Brenvale and names the files "
        "added in between.");
    if (answered != Startup::goOn)
        return answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorrel"));
    QApplication::setApplicationVersion(QStringLiteral(BRENVALE_VERSION));
    // Pairs the window with its menu entry, for the taskbar's icon and name.
    QGuiApplication::setDesktopFileName(QStringLiteral(BRENVALE_APP_ID_PREFIX ".quorrel"));
    CheckFileFrm window;
    window.show();
    return app.exec();
}
