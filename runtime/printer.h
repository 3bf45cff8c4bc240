// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The printer as the classic runtime presents it: set the font, print lines, end the document.
// Lines are kept until EndDoc, which lays them out on the system's default printer (no dialog)
// at the font's line spacing, inside margins of at least 10 mm, starting a new page when one is
// full. A line wider than the page goes on over the next printed lines, each indented a little
// more than the line it continues, so no character is lost; letters are never joined into
// ligatures, so the paper shows exactly the characters of the names. A missing, stopped or
// refusing printer fails with error 482 and prints nothing.
class Printer
{
public:
    void setFontName(const QString& name) { m_fontName = name; }
    void setFontSize(double points) { m_fontSize = points; }
    // Prints a text and ends the line; each CR LF inside the text starts a new line.
    void Print(const QString& text = {});
    void EndDoc();

private:
    QString m_fontName;
    double m_fontSize = 10;
    QStringList m_lines;
};
