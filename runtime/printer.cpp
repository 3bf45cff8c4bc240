// SPDX-License-Identifier: GPL-3.0-or-later
#include "printer.h"

#include "runerror.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextBoundaryFinder>

#include <cmath>

#ifdef BRENVALE_HAVE_CUPS
#include <cups/cups.h>
#endif

using namespace Qt::StringLiterals;

namespace {

constexpr qreal minimumMarginMm = 10;
// How much further a continued line starts than the line it continues, in spaces.
constexpr int continuationIndent = 4;

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

// The queue the user or the print server chose as the default, whether or not it still exists.
QString chosenDefault()
{
    QString name = QString::fromUtf8(cupsGetDefault2(CUPS_HTTP_DEFAULT));
    // An instance ("queue/instance") prints on its queue.
    return name.section(u'/', 0, 0);
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
QString chosenDefault()
{
    return {};
}
void checkQueue(const QString&) { }
void checkSubmitted(const QString&) { }
#endif

// Called when the system names no default printer that exists: says which of the three ways
// that happens, since each asks the user for something else.
[[noreturn]] void noDefaultPrinter()
{
    const QStringList installed = QPrinterInfo::availablePrinterNames();
    const QString chosen = chosenDefault();
    if (!chosen.isEmpty() && !installed.contains(chosen))
        printFailed({},
            u"The default printer %1 cannot be found. Make an installed printer the default, then print again."_s
                .arg(chosen));
    if (!installed.isEmpty())
        printFailed({}, u"No printer is chosen as the default. Make one the default, then print again."_s);
    printFailed(
        {}, u"No printer is installed. Install a printer and make it the default, then print again."_s);
}

// Font features join letters such as "fi" into one glyph, and a name on paper must show its
// exact characters; kerning goes too, so that spaces keep their width.
QFont printFont(const QString& name, double points)
{
    QFont font(name);
    font.setPointSizeF(points);
    font.setKerning(false);
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

// The printed lines that one line of text becomes on a page `width` wide. A break never leaves
// spaces at the end of a printed line, where they could not be seen: they start the next one.
QStringList wrapLine(const QString& line, const QFontMetricsF& metrics, qreal width)
{
    if (metrics.horizontalAdvance(line) <= width)
        return { line };

    qsizetype leading = 0;
    while (leading < line.size() && line.at(leading) == u' ')
        ++leading;
    QString indent(leading + continuationIndent, u' ');
    if (metrics.horizontalAdvance(indent) > width / 2)
        indent = QString(continuationIndent, u' ');

    QStringList printed;
    QString prefix;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, line);
    qsizetype start = 0;
    while (start < line.size()) {
        const qreal room = width - metrics.horizontalAdvance(prefix);
        graphemes.setPosition(start);
        qsizetype end = graphemes.toNextBoundary(); // at least one character, whatever its width
        qreal used = metrics.horizontalAdvance(line.mid(start, end - start));
        while (end < line.size()) {
            const qsizetype next = graphemes.toNextBoundary();
            used += metrics.horizontalAdvance(line.mid(end, next - end));
            if (used > room)
                break;
            end = next;
        }
        // The sum of single widths can differ a little from the width of the whole piece.
        while (metrics.horizontalAdvance(line.mid(start, end - start)) > room) {
            graphemes.setPosition(end);
            const qsizetype previous = graphemes.toPreviousBoundary();
            if (previous <= start)
                break;
            end = previous;
        }
        if (end < line.size()) {
            qsizetype cut = end;
            while (cut > start && line.at(cut - 1) == u' ')
                --cut;
            if (cut > start)
                end = cut;
        }
        printed.append(prefix + line.mid(start, end - start));
        start = end;
        prefix = indent;
    }
    return printed;
}

// Margins of at least 10 mm, wider where the printer cannot print that close to the edge. They
// are given in whole points, rounded up, because the page's paint area is kept in whole points.
void setMargins(QPrinter& printer)
{
    QPageLayout layout = printer.pageLayout();
    layout.setUnits(QPageLayout::Point);
    const QMarginsF least = layout.minimumMargins();
    const qreal wanted = std::ceil(minimumMarginMm * 72 / 25.4);
    const QMarginsF margins(std::ceil(qMax(wanted, least.left())), std::ceil(qMax(wanted, least.top())),
        std::ceil(qMax(wanted, least.right())), std::ceil(qMax(wanted, least.bottom())));
    if (!printer.setPageMargins(margins, QPageLayout::Point))
        printFailed(printer.printerName(), u"the page margins cannot be set."_s);
}

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
        noDefaultPrinter();
    const QString name = target.printerName();
    checkQueue(name);

    QPrinter printer(target, QPrinter::HighResolution);
    printer.setDocName(QCoreApplication::applicationName());
    printer.setFullPage(false);
    setMargins(printer);
    QPainter painter;
    if (!painter.begin(&printer))
        printFailed(name, u"the printer is not ready."_s);

    const QFont font = printFont(m_fontName, m_fontSize);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &printer);
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const qreal spacing = qMax<qreal>(1, metrics.lineSpacing());

    qreal y = 0;
    for (const QString& line : lines) {
        for (const QString& printed : wrapLine(line, metrics, page.width())) {
            if (y + spacing > page.height() && y > 0) {
                printer.newPage();
                y = 0;
            }
            painter.drawText(QPointF(0, y + metrics.ascent()), printed);
            y += spacing;
        }
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        printFailed(name, u"the printer reported an error."_s);
    checkSubmitted(name);
}
