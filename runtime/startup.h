// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "identity.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// What a window program does before its QApplication exists, so that a newcomer at a terminal gets
// an answer instead of Qt's abort: --help and --version work without a display, and with no
// graphical session at all the program says so in one line and ends with status 2.
namespace Startup {

constexpr int goOn = -1;

inline bool hasGraphicalSession(int argc, char* argv[])
{
    // A platform chosen by hand (offscreen, minimal, vnc ...) needs no session of the desktop's.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return true;
    }
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

// Returns goOn when the window should open, otherwise the exit status to end with.
// `usage` is the synopsis after the program's name; `about` says what the window is for.
inline int answerFirst(int argc, char* argv[], const char* program, const char* usage, const char* about)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: %s%s%s\n%s\n\n  --help     show this help\n  --version  show the version and "
                        "the licence\n\nBug reports: " BRENVALE_BUGS "\n",
                program, *usage ? " " : "", usage, about);
            return EXIT_SUCCESS;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s " BRENVALE_VERSION "\nLicence: " BRENVALE_LICENSE "\n", program);
            return EXIT_SUCCESS;
        }
    }
    if (!hasGraphicalSession(argc, argv)) {
        std::fprintf(stderr,
            "%s: needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set); start it from "
            "the desktop's menu\n",
            program);
        return 2;
    }
    return goOn;
}

}
