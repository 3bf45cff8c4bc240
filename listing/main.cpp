// SPDX-License-Identifier: GPL-3.0-or-later
#include "dirlistfrm.h"
#include "identity.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const int answered = Startup::answerFirst(argc, argv, "brenvale", "",
        "Opens Brenvale's window, which lists the files of a game folder so that Quorrel can later name "
        "the files added since.");
    if (answered != Startup::goOn)
        return answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brenvale"));
    QApplication::setApplicationVersion(QStringLiteral(BRENVALE_VERSION));
    // Pairs the window with its menu entry, for the taskbar's icon and name.
    QGuiApplication::setDesktopFileName(QStringLiteral(BRENVALE_APP_ID_PREFIX ".brenvale"));
    DirListFrm window;
    window.show();
    window.moveToDesignPosition();
    return app.exec();
}
