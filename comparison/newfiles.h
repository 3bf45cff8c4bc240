// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <vector>

// The names of the new list that the old list lacks, in new-list order; a name that occurs several
// times in the new list and never in the old one is given each time. Names compare exactly, letter
// case included. Linear time: the old names go into a hash set, each list is walked once.
QStringList newFileNames(const QStringList& oldNames, const QStringList& newNames);

// The same comparison over two list files' bytes, as the window runs it on lists of a million
// names: lines are compared as bytes (which is what the names are), and nothing is decoded.
struct NewFiles
{
    qsizetype total = 0; // names in the new list
    std::vector<QByteArrayView> added; // views into the new list's bytes, in new-list order
};
NewFiles findNewFiles(QByteArrayView oldList, QByteArrayView newList);

// The result box's text: each name behind 8 spaces and ending in CR LF.
QString newFilesReport(const QStringList& names);
// The same text for a comparison of list files, decoding only the new names.
QString newFilesText(const NewFiles& found);
