// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace mending {

// Raw path bytes made readable in messages, one line each: bytes that are not UTF-8 show as \xNN, and
// control characters as \t, \n, \r or \xNN.
QString displayPath(const QByteArray& path);

// Whether a path's name ends in the extension given in lower case (".package"), in any letter case.
// Allocates nothing: it is asked of every file of large folders.
bool hasExtension(QByteArrayView path, QByteArrayView dotExtension);

// A path for a tab-separated line: its bytes as they are, but tab, line feed and backslash written
// as \t, \n and \\, so every line stays one line and can be turned back into the exact bytes.
QByteArray tsvField(const QByteArray& path);

// A path as a JSON string (quotes included). A byte that is not part of valid UTF-8 is written as
// the lone surrogate \udcXX (XX its value), which valid UTF-8 never produces, so the bytes can be
// recovered exactly.
QByteArray jsonString(const QByteArray& bytes);

}
