// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "printer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QSet>
#include <QStringList>
#include <QThread>
#include <QXmlStreamReader>

#include <cmath>

// Reads back what reached the paper. The private print server keeps every job file exactly as a
// program sent it; pdftotext -bbox gives the place of each word on its page, and a ruler page
// printed in the programs' font gives the line pitch, the left and top edge of the text and the
// width of a space. From these every printed line is rebuilt with its exact characters, runs of
// spaces and empty lines included (pdftotext's own text folds spaces and ligatures).
namespace PrintedPages {

using namespace Qt::StringLiterals;

struct Word
{
    qreal xMin = 0;
    qreal yMin = 0;
    qreal xMax = 0;
    qreal yMax = 0;
    QString text;
};

struct Page
{
    qreal width = 0; // points
    qreal height = 0;
    QList<Word> words;
};

struct Ruler
{
    qreal left = 0;
    qreal top = 0;
    qreal pitch = 0;
    qreal space = 0;
};

constexpr int rulerSpaces = 40;
constexpr int rulerLastLine = 20;

// The spool folder of the private print server that the tests run against.
inline QString spoolFolder()
{
    return qEnvironmentVariable("BRENVALE_PRINT_SPOOL");
}

inline QStringList jobFiles()
{
    return QDir(spoolFolder()).entryList({ u"d*-001"_s }, QDir::Files, QDir::Name);
}

// The one job that reached the queue since `before` was taken; empty (with the reason) when none
// or more than one came within 20 seconds.
inline QString waitForNewJob(const QStringList& before, QString& error)
{
    const QSet<QString> old(before.cbegin(), before.cend());
    QElapsedTimer clock;
    clock.start();
    QStringList added;
    do {
        added.clear();
        for (const QString& name : jobFiles())
            if (!old.contains(name))
                added.append(name);
        if (!added.isEmpty())
            break;
        QCoreApplication::processEvents();
        QThread::msleep(50);
    } while (clock.elapsed() < 20000);
    if (added.size() != 1) {
        error = u"%1 new jobs in %2"_s.arg(added.size()).arg(spoolFolder());
        return {};
    }
    return spoolFolder() + u'/' + added.first();
}

inline QList<Page> readPages(const QString& pdf, QString& error)
{
    QProcess text;
    text.start(u"pdftotext"_s, { u"-bbox"_s, pdf, u"-"_s });
    if (!text.waitForFinished(30000) || text.exitStatus() != QProcess::NormalExit || text.exitCode() != 0) {
        error = u"pdftotext failed on %1: %2"_s.arg(pdf, QString::fromLocal8Bit(text.readAllStandardError()));
        return {};
    }
    QList<Page> pages;
    QXmlStreamReader xml(text.readAllStandardOutput());
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"page"_s) {
            pages.append({ a.value(u"width"_s).toDouble(), a.value(u"height"_s).toDouble(), {} });
        } else if (xml.name() == u"word"_s && !pages.isEmpty()) {
            Word word { a.value(u"xMin"_s).toDouble(), a.value(u"yMin"_s).toDouble(),
                a.value(u"xMax"_s).toDouble(), a.value(u"yMax"_s).toDouble(), {} };
            word.text = xml.readElementText();
            pages.last().words.append(word);
        }
    }
    if (xml.hasError())
        error = u"pdftotext -bbox gave no readable page list: %1"_s.arg(xml.errorString());
    return pages;
}

// Prints the ruler through the same printer service, in the font both programs print in:
// "M", 40 spaces, "M" on the first line, and one "M" on the twentieth line below it.
inline void printRuler()
{
    Printer printer;
    printer.setFontName(u"Ms Sans Serif"_s);
    printer.setFontSize(10);
    printer.Print(u"M"_s + QString(rulerSpaces, u' ') + u"M"_s);
    for (int line = 1; line < rulerLastLine; ++line)
        printer.Print();
    printer.Print(u"M"_s);
    printer.EndDoc();
}

inline bool measureRuler(const QList<Page>& pages, Ruler& ruler, QString& error)
{
    if (pages.size() != 1 || pages.first().words.size() != 3) {
        error = u"the ruler page does not hold three words"_s;
        return false;
    }
    QList<Word> words = pages.first().words;
    std::sort(words.begin(), words.end(),
        [](const Word& a, const Word& b) { return std::tie(a.yMin, a.xMin) < std::tie(b.yMin, b.xMin); });
    ruler.left = words[0].xMin;
    ruler.top = words[0].yMin;
    ruler.space = (words[1].xMin - words[0].xMax) / rulerSpaces;
    ruler.pitch = (words[2].yMin - words[0].yMin) / rulerLastLine;
    if (ruler.space <= 0 || ruler.pitch <= 0 || std::abs(words[2].xMin - words[0].xMin) > 0.5) {
        error = u"the ruler page is not laid out as printed"_s;
        return false;
    }
    return true;
}

// The lines of each page, from the top of the text down to its last line that shows anything.
// Words are placed on a line by their height, and spaces are counted by the gap before a word.
inline QList<QStringList> pageLines(const QList<Page>& pages, const Ruler& ruler)
{
    QList<QStringList> result;
    for (const Page& page : pages) {
        QList<Word> words = page.words;
        std::sort(words.begin(), words.end(), [&](const Word& a, const Word& b) {
            const long lineA = std::lround((a.yMin - ruler.top) / ruler.pitch);
            const long lineB = std::lround((b.yMin - ruler.top) / ruler.pitch);
            return std::tie(lineA, a.xMin) < std::tie(lineB, b.xMin);
        });
        QStringList lines;
        qreal x = ruler.left;
        for (const Word& word : words) {
            const qsizetype line = std::lround((word.yMin - ruler.top) / ruler.pitch);
            if (line < 0) {
                lines.append(u"<above the top line: %1>"_s.arg(word.text));
                continue;
            }
            while (lines.size() <= line) {
                lines.append(QString());
                x = ruler.left;
            }
            const long spaces = std::lround((word.xMin - x) / ruler.space);
            lines[line] += QString(qMax(0L, spaces), u' ') + word.text;
            x = word.xMax;
        }
        result.append(lines);
    }
    return result;
}

// The whole document as one list of lines. Empty lines at the foot of a page leave no mark on
// paper, so the pages are simply joined.
inline QStringList documentLines(const QList<QStringList>& pages)
{
    QStringList lines;
    for (const QStringList& page : pages)
        lines += page;
    return lines;
}

// The lines a text should give on paper, where spaces at the end of a line cannot be seen.
inline QStringList visibleLines(QStringList lines)
{
    for (QString& line : lines) {
        while (line.endsWith(u' '))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Every word further than `mm` millimetres from each edge of its page; the first that is not,
// or an empty string.
inline QString wordOutsideMargins(const QList<Page>& pages, qreal mm)
{
    const qreal points = mm * 72 / 25.4;
    for (qsizetype p = 0; p < pages.size(); ++p) {
        const Page& page = pages[p];
        for (const Word& word : page.words) {
            if (word.xMin < points || word.yMin < points || word.xMax > page.width - points
                || word.yMax > page.height - points)
                return u"page %1: \"%2\" at %3,%4 to %5,%6 (page %7 x %8 points)"_s.arg(p + 1)
                    .arg(word.text)
                    .arg(word.xMin)
                    .arg(word.yMin)
                    .arg(word.xMax)
                    .arg(word.yMax)
                    .arg(page.width)
                    .arg(page.height);
        }
    }
    return {};
}

}
