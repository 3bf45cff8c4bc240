// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the lines that a print job put on paper, one per line, spaces exact (see printedpages.h).
// Used by the end-to-end tests, which drive the real programs and then read their printout back:
//     printed_lines JOB-FILE
// It prints its own ruler page first, on the default printer that CUPS_SERVER leads to.
#include "printedpages.h"

#include "runerror.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2 || PrintedPages::spoolFolder().isEmpty()) {
        std::fputs("usage: BRENVALE_PRINT_SPOOL=DIR printed_lines JOB-FILE\n", stderr);
        return 2;
    }
    QString error;
    const QStringList before = PrintedPages::jobFiles();
    try {
        PrintedPages::printRuler();
    } catch (const RunError& failure) {
        std::fprintf(stderr, "the ruler page was not printed: %s\n", failure.what());
        return 1;
    }
    const QString rulerJob = PrintedPages::waitForNewJob(before, error);
    PrintedPages::Ruler ruler;
    if (rulerJob.isEmpty()
        || !PrintedPages::measureRuler(PrintedPages::readPages(rulerJob, error), ruler, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QList<PrintedPages::Page> pages = PrintedPages::readPages(args.at(1), error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    for (const QString& line : PrintedPages::documentLines(PrintedPages::pageLines(pages, ruler)))
        std::printf("%s\n", line.toUtf8().constData());
    return 0;
}
