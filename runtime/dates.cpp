// SPDX-License-Identifier: GPL-3.0-or-later
#include "dates.h"

using namespace Qt::StringLiterals;

QChar dateSeparator(const QLocale& locale)
{
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        else if (!quoted && !c.isLetter() && !c.isSpace())
            return c;
    }
    return u'/';
}

QString shortDateText(const QDate& date, const QLocale& locale)
{
    const QChar separator = dateSeparator(locale);
    return u"%1%2%3%2%4"_s.arg(date.month(), 2, 10, QChar(u'0'))
        .arg(separator)
        .arg(date.day(), 2, 10, QChar(u'0'))
        .arg(date.year() % 100, 2, 10, QChar(u'0'));
}
