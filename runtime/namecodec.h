// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// File names and list files are bytes. They are read as UTF-8, the encoding of today's Linux
// locales; a byte that is not part of valid UTF-8 (names made on Windows in an 8-bit code page)
// is kept as the lone surrogate U+DC80 + (byte - 0x80) and written back as that same byte. So two
// names that differ in one such byte stay different, and nothing read is changed by a save.
// The screen shows such a surrogate as a replacement mark.

QString decodeName(QByteArrayView bytes);
// The length (1 to 4) of the strictly valid UTF-8 sequence that starts at data, or 0 where the
// bytes there are no UTF-8 (a stray continuation byte, an overlong form, a surrogate, a cut sequence).
int utf8SequenceLength(const char* data, qsizetype available);
QByteArray encodeName(QStringView name);
