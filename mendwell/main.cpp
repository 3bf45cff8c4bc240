#include "commandline.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCoreApplication>

int main(int argc, char* argv[])
{
    // A command needs no display: players run them from scripts and over ssh.
    if (argc > 1) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Mendwell"));
        QList<QByteArray> arguments;
        for (int i = 1; i < argc; ++i)
            arguments.append(QByteArray(argv[i]));
        return runCommand(arguments, stdout, stderr);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mendwell"));
    MainWindow window;
    window.show();
    return app.exec();
}
