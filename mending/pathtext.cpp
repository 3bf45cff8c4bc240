#include "pathtext.h"

namespace mending {

int utf8SequenceLength(const char* data, qsizetype available)
{
    const auto* p = reinterpret_cast<const uchar*>(data);
    if (available <= 0)
        return 0;
    const uchar c = p[0];
    if (c < 0x80)
        return 1;
    int length;
    uint code;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (available < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
        return 0;
    if (code >= 0xD800 && code <= 0xDFFF)
        return 0;
    return length;
}

QString displayPath(const QByteArray& path)
{
    QString shown;
    shown.reserve(path.size());
    qsizetype i = 0;
    while (i < path.size()) {
        const qsizetype start = i;
        int length;
        while (i < path.size() && (length = utf8SequenceLength(path.constData() + i, path.size() - i)) > 0)
            i += length;
        shown += QString::fromUtf8(path.constData() + start, i - start);
        if (i < path.size()) {
            shown += QStringLiteral("\\x%1").arg(uint(uchar(path.at(i))), 2, 16, QLatin1Char('0'));
            ++i;
        }
    }
    return shown;
}

QByteArray tsvField(const QByteArray& path)
{
    if (!path.contains('\t') && !path.contains('\n') && !path.contains('\\'))
        return path;
    QByteArray field;
    field.reserve(path.size() + 8);
    for (char c : path) {
        if (c == '\t')
            field += "\\t";
        else if (c == '\n')
            field += "\\n";
        else if (c == '\\')
            field += "\\\\";
        else
            field += c;
    }
    return field;
}

QByteArray jsonString(const QByteArray& bytes)
{
    static const char hex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out += '"';
    qsizetype i = 0;
    while (i < bytes.size()) {
        const uchar c = uchar(bytes.at(i));
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20) {
            if (c == '\n')
                out += "\\n";
            else if (c == '\t')
                out += "\\t";
            else if (c == '\r')
                out += "\\r";
            else {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            }
            ++i;
        } else if (c < 0x80) {
            out += char(c);
            ++i;
        } else {
            const int length = utf8SequenceLength(bytes.constData() + i, bytes.size() - i);
            if (length > 0) {
                out.append(bytes.constData() + i, length);
                i += length;
            } else {
                out += "\\udc";
                out += hex[c >> 4];
                out += hex[c & 15];
                ++i;
            }
        }
    }
    out += '"';
    return out;
}

}
