#include "mainwindow.h"

#include <QLabel>

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Mendwell"));
    auto* coming = new QLabel(tr("The Mendwell window is coming soon; until then, every step works on the "
                                 "command line (mendwell --help)."),
        this);
    coming->setObjectName(QStringLiteral("lblComing"));
    coming->setWordWrap(true);
    coming->setMargin(24);
    setCentralWidget(coming);
    resize(480, 120);
}
