// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "heap.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>

#include <limits.h>
#include <unistd.h>

namespace {

// The window lives in its own program beside this one: commands then start without loading the
// widget libraries, which would cost every scripted call more than a whole small scan.
int openWindow(char* argv[])
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    QByteArray window = length > 0 ? QByteArray(self, length) : QByteArray(argv[0]);
    window = window.first(window.lastIndexOf('/') + 1) + "mendwell-window";
    ::execv(window.constData(), argv);
    std::fprintf(
        stderr, "mendwell: cannot start the window %s: %s\n", window.constData(), std::strerror(errno));
    return ExitStatus::Trouble;
}

}

int main(int argc, char* argv[])
{
    if (argc <= 1)
        return openWindow(argv);
    prepareHeap();
    // A command needs no display: players run them from scripts and over ssh.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Mendwell"));
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    return runCommand(arguments, stdout, stderr);
}
