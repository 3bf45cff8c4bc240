// SPDX-License-Identifier: GPL-3.0-or-later
#include "pathtext.h"

#include "namecodec.h"

namespace mending {

namespace {

// A tab or a line feed in a name would break the line it is shown on: control characters are shown as
// \t, \n, \r, or \xNN.
void appendEscapingControls(QString& shown, const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u != 0x7F)
            shown += c;
        else if (u == '\t')
            shown += QStringLiteral("\\t");
        else if (u == '\n')
            shown += QStringLiteral("\\n");
        else if (u == '\r')
            shown += QStringLiteral("\\r");
        else
            shown += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
    }
}

}

bool hasExtension(QByteArrayView path, QByteArrayView dotExtension)
{
    if (path.size() < dotExtension.size())
        return false;
    const char* end = path.data() + path.size() - dotExtension.size();
    for (qsizetype i = 0; i < dotExtension.size(); ++i) {
        const char c = end[i];
        if ((c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c) != dotExtension[i])
            return false;
    }
    return true;
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
        appendEscapingControls(shown, QString::fromUtf8(path.constData() + start, i - start));
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
