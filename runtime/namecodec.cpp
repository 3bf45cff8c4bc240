// SPDX-License-Identifier: GPL-3.0-or-later
#include "namecodec.h"

#include <QUtf8StringView>

namespace {

constexpr char16_t escapeBase = 0xDC00;

bool isEscapedByte(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

// The length of the valid UTF-8 sequence that starts at bytes[i], or 0 when none does.
// Strict: no overlong forms, no surrogates, nothing above U+10FFFF, so that decoding and
// encoding give back the very same bytes.
qsizetype validSequence(const unsigned char* bytes, qsizetype i, qsizetype size, char32_t& code)
{
    const unsigned char lead = bytes[i];
    qsizetype length;
    char32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > size)
        return 0;
    for (qsizetype k = 1; k < length; ++k) {
        const unsigned char next = bytes[i + k];
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

}

int utf8SequenceLength(const char* data, qsizetype available)
{
    if (available <= 0)
        return 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (bytes[0] < 0x80)
        return 1;
    char32_t code = 0;
    return int(validSequence(bytes, 0, available, code));
}

QString decodeName(QByteArrayView bytes)
{
    // Almost every name is valid UTF-8: Qt's decoder takes those.
    if (QUtf8StringView(bytes.data(), bytes.size()).isValidUtf8())
        return QString::fromUtf8(bytes);

    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    QString name;
    name.reserve(size);
    for (qsizetype i = 0; i < size;) {
        const unsigned char byte = data[i];
        if (byte < 0x80) {
            name.append(QChar(char16_t(byte)));
            ++i;
            continue;
        }
        char32_t code = 0;
        const qsizetype length = validSequence(data, i, size, code);
        if (length == 0) {
            name.append(QChar(char16_t(escapeBase + byte)));
            ++i;
            continue;
        }
        const char32_t one[] = { code };
        name.append(QString::fromUcs4(one, 1));
        i += length;
    }
    return name;
}

QByteArray encodeName(QStringView name)
{
    bool escaped = false;
    for (const QChar unit : name) {
        if (isEscapedByte(unit.unicode())) {
            escaped = true;
            break;
        }
    }
    if (!escaped)
        return name.toUtf8();

    QByteArray bytes;
    bytes.reserve(name.size() * 3);
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name.at(i).unicode();
        if (!isEscapedByte(unit))
            continue;
        // A lone low surrogate only; one that follows a high surrogate is half of a real character.
        if (i > 0 && QChar::isHighSurrogate(name.at(i - 1).unicode()))
            continue;
        bytes.append(name.sliced(start, i - start).toUtf8());
        bytes.append(char(unit - escapeBase));
        start = i + 1;
    }
    bytes.append(name.sliced(start).toUtf8());
    return bytes;
}
