#include "printer.h"

#include "runerror.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

#ifdef BRENVALE_HAVE_CUPS
#include <cups/cups.h>
#endif

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void printFailed(const QString& printer, const QString& reason)
{
    throw RunError(ErrorNumber::PrinterError,
        printer.isEmpty() ? reason : u"Printing on %1 failed: %2"_s.arg(printer, reason));
}

#ifdef BRENVALE_HAVE_CUPS
QString cupsOption(cups_dest_t* dest, const char* name)
{
    return QString::fromUtf8(cupsGetOption(name, dest->num_options, dest->options));
}

// The print queue is asked first, so that a stopped or refusing queue is reported instead of
// swallowing the job.
void checkQueue(const QString& printer)
{
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.toUtf8().constData(), nullptr);
    if (!dest)
        printFailed(printer, u"the printer cannot be reached."_s);
    const QString accepting = cupsOption(dest, "printer-is-accepting-jobs");
    const QString state = cupsOption(dest, "printer-state");
    const QString why = cupsOption(dest, "printer-state-message");
    cupsFreeDests(1, dest);
    if (accepting == u"false"_s)
        printFailed(printer,
            u"the printer is not accepting jobs%1."_s.arg(why.isEmpty() ? QString() : u" (%1)"_s.arg(why)));
    if (state == u"5"_s)
        printFailed(printer,
            u"the printer is stopped (not ready)%1."_s.arg(why.isEmpty() ? QString() : u" (%1)"_s.arg(why)));
}

void checkSubmitted(const QString& printer)
{
    if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
        printFailed(printer,
            u"the print queue refused the job (%1)."_s.arg(QString::fromUtf8(cupsLastErrorString())));
}
#else
void checkQueue(const QString&) { }
void checkSubmitted(const QString&) { }
#endif

}

void Printer::Print(const QString& text)
{
    m_lines.append(text.split(u"\r\n"_s));
}

void Printer::EndDoc()
{
    const QStringList lines = std::exchange(m_lines, {});
    const QPrinterInfo target = QPrinterInfo::defaultPrinter();
    if (target.isNull())
        printFailed(
            {}, u"No printer is installed. Install a printer and make it the default, then print again."_s);
    const QString name = target.printerName();
    checkQueue(name);

    QPrinter printer(target, QPrinter::HighResolution);
    printer.setDocName(QCoreApplication::applicationName());
    QPainter painter;
    if (!painter.begin(&printer))
        printFailed(name, u"the printer is not ready."_s);

    QFont font(m_fontName);
    font.setPointSizeF(m_fontSize);
    painter.setFont(font);
    const QFontMetrics metrics(font, &printer);
    const QRect page = painter.viewport();
    const int spacing = qMax(1, metrics.lineSpacing());
    painter.setClipRect(page);

    int y = 0;
    for (const QString& line : lines) {
        if (y + spacing > page.height() && y > 0) {
            printer.newPage();
            y = 0;
        }
        painter.drawText(0, y + metrics.ascent(), line);
        y += spacing;
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        printFailed(name, u"the printer reported an error."_s);
    checkSubmitted(name);
}
