#include "names.h"

#include <algorithm>

bool nameLess(const QString& a, const QString& b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

void sortNames(QStringList& names)
{
    std::sort(names.begin(), names.end(), nameLess);
}

QString shownCaption(const QString& caption)
{
    QString shown;
    shown.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == u'&') {
            if (i + 1 < caption.size() && caption.at(i + 1) == u'&') {
                shown.append(u'&');
                ++i;
            }
            continue;
        }
        shown.append(caption.at(i));
    }
    return shown;
}

qsizetype removeNamesWithLineBreaks(QStringList& names)
{
    return names.removeIf([](const QString& name) { return name.contains(u'\n') || name.contains(u'\r'); });
}
