// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Name order of sorted lists: the locale's dictionary order with letter case ignored (accented
// letters beside their base letters), ties broken by exact code-point order, so the order never
// depends on the order in which a folder yields its names.
bool nameLess(const QString& a, const QString& b);
void sortNames(QStringList& names);

// What a caption shows on screen: a single "&" hidden (it marks the next letter), "&&" as one "&".
QString shownCaption(const QString& caption);

// Removes the names that hold a line break, which cannot be one line of a list file.
// Returns how many were removed.
qsizetype removeNamesWithLineBreaks(QStringList& names);
