#pragma once

#include <QString>
#include <QStringList>

// The names of the new list that the old list lacks, in new-list order; a name that occurs several
// times in the new list and never in the old one is given each time. Names compare exactly, letter
// case included. Linear time: the old names go into a hash set, each list is walked once.
QStringList newFileNames(const QStringList& oldNames, const QStringList& newNames);

// The result box's text: each name behind 8 spaces and ending in CR LF.
QString newFilesReport(const QStringList& names);
