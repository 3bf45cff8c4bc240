#include "names.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// The locale's dictionary order with letter case ignored. The C locale has no dictionary of its
// own; names there still sort as a dictionary would (Été before Zeta), by the root order.
const QCollator& nameCollator()
{
    static const QCollator collator = [] {
        QLocale locale;
        if (locale.language() == QLocale::C)
            locale = QLocale(QLocale::English, QLocale::UnitedStates);
        QCollator made(locale);
        made.setCaseSensitivity(Qt::CaseInsensitive);
        made.setNumericMode(false);
        made.setIgnorePunctuation(false);
        // The collator sets itself up on first use; do it here, once, before threads may share it.
        (void)made.compare(u"a", u"b");
        return made;
    }();
    return collator;
}

}

bool nameLess(const QString& a, const QString& b)
{
    const int folded = nameCollator().compare(a, b);
    if (folded != 0)
        return folded < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

void sortNames(QStringList& names)
{
    if (names.size() < 2)
        return;
    // One sort key per name, so the collation runs n times rather than n log n times.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(names.size()));
    for (const QString& name : names)
        keys.push_back(nameCollator().sortKey(name));
    std::vector<qsizetype> order(size_t(names.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int folded = keys[size_t(a)].compare(keys[size_t(b)]);
        if (folded != 0)
            return folded < 0;
        return QString::compare(names.at(a), names.at(b), Qt::CaseSensitive) < 0;
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const qsizetype index : order)
        sorted.append(std::move(names[index]));
    names = std::move(sorted);
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
