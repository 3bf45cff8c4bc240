#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

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

// The names of a list file: one per line, exactly as written (commas, quotes and blanks included);
// lines may end in CR LF or LF, and empty lines are no names.
QStringList parseListNames(const QByteArray& bytes);

// Reads a list file's names; fails with a RunError naming the file and the reason.
QStringList readListNames(const QString& path);
