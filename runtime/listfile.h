// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "bigmemory.h"

// The folder list file: one bare file name per line, each ended by CR LF, then one empty line
// and a closing CR LF, in the locale's 8-bit encoding.

inline constexpr char16_t lineEnd[] = u"\r\n";

// The listing text of some names: each followed by CR LF, then one more CR LF.
QString composeListing(const QStringList& names);

// The bytes a saved text takes: the text, then CR LF.
QByteArray listFileBytes(const QString& text);

// Saves a text as a list file, so that it is either written whole or not at all: the bytes go to a
// temporary file beside the target, which is then renamed over it. Fails with a RunError whose
// description names the path and the reason.
void saveListFile(const QString& path, const QString& text);

// One name's place among a list file's bytes.
struct ListLine
{
    qsizetype start;
    qsizetype length;
};

// The names of a list file as places in its bytes, without decoding or copying them: one per line,
// lines ending in CR LF or LF, empty lines no names. A big list costs one vector, not a string
// per name.
using ListLines = BigVector<ListLine>;
ListLines splitListLines(QByteArrayView bytes);

// Why bytes cannot be a folder list, or nothing when they can: a folder list holds bare file names, one
// a line, as splitListLines() reads them, so a NUL byte, a "/" or another control character than the
// line ends, or a name "." or "..", belong to some other file (a text, a table, a program).
QString folderListFault(QByteArrayView bytes);

// A list file's bytes, read in one go; fails with a RunError naming the file and the reason, also
// when the file holds binary data and so is no folder list.
using ListBytes = BigVector<char>;
ListBytes readListBytes(const QString& path);

// The names of a list file: one per line, exactly as written (commas, quotes and blanks included);
// lines may end in CR LF or LF, and empty lines are no names.
QStringList parseListNames(const QByteArray& bytes);

// Reads a list file's names; fails with a RunError naming the file and the reason.
QStringList readListNames(const QString& path);
