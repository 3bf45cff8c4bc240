// SPDX-License-Identifier: GPL-3.0-or-later
#include "names.h"

#include "helperthread.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
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

namespace {

// Names of printable ASCII only, as nearly every game file has, sort much faster by a table than by
// the collator: each character gets its rank in the collator's own order (a letter and its capital
// share one), and names compare rank by rank. The table is made from the collator at run time and
// used only when the collator orders every name of one and two such characters exactly that way;
// a locale with contractions among them (such as "ch" in Czech) keeps the collator for all names.
class AsciiOrder
{
public:
    AsciiOrder()
    {
        const QCollator& collator = nameCollator();
        std::vector<char16_t> characters;
        for (char16_t c = first; c <= last; ++c)
            characters.push_back(c);
        const auto order = [&](char16_t a, char16_t b) {
            return collator.compare(QStringView(&a, 1), QStringView(&b, 1));
        };
        std::stable_sort(
            characters.begin(), characters.end(), [&](char16_t a, char16_t b) { return order(a, b) < 0; });
        uint8_t rank = 0;
        for (size_t i = 0; i < characters.size(); ++i) {
            if (i == 0 || order(characters[i - 1], characters[i]) != 0)
                ++rank;
            m_rank[characters[i]] = rank;
        }
        m_usable = agreesWith(collator, characters);
    }

    bool usable() const { return m_usable; }
    uint8_t rank(char16_t c) const { return m_rank[c]; }

    static bool covers(QStringView name)
    {
        for (const QChar c : name) {
            if (c.unicode() < first || c.unicode() > last)
                return false;
        }
        return true;
    }

    // -1, 0 or 1 as the collator would answer for two names that covers() accepts.
    int compare(QStringView a, QStringView b) const
    {
        const qsizetype common = std::min(a.size(), b.size());
        for (qsizetype i = 0; i < common; ++i) {
            const int difference = int(m_rank[a[i].unicode()]) - int(m_rank[b[i].unicode()]);
            if (difference != 0)
                return difference < 0 ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
    }

private:
    static constexpr char16_t first = 0x20;
    static constexpr char16_t last = 0x7E;

    // Every name of one or two characters, in the order the table gives, must be in the collator's
    // order too, neighbour by neighbour, with equal ranks exactly where the collator sees no difference.
    bool agreesWith(const QCollator& collator, const std::vector<char16_t>& characters) const
    {
        std::vector<std::u16string> names;
        for (const char16_t a : characters) {
            names.push_back(std::u16string(1, a));
            for (const char16_t b : characters)
                names.push_back(std::u16string { a, b });
        }
        std::stable_sort(names.begin(), names.end(),
            [&](const std::u16string& a, const std::u16string& b) { return compare(a, b) < 0; });
        for (size_t i = 1; i < names.size(); ++i) {
            const int expected = compare(names[i - 1], names[i]);
            const int given = collator.compare(names[i - 1], names[i]);
            if ((given < 0 ? -1 : given > 0 ? 1 : 0) != expected)
                return false;
        }
        return true;
    }

    std::array<uint8_t, 128> m_rank {};
    bool m_usable = false;
};

const AsciiOrder& asciiOrder()
{
    static const AsciiOrder order;
    return order;
}

int collate(const QString& a, const QString& b)
{
    const AsciiOrder& ascii = asciiOrder();
    if (ascii.usable() && AsciiOrder::covers(a) && AsciiOrder::covers(b))
        return ascii.compare(a, b);
    return nameCollator().compare(a, b);
}

// A name of printable ASCII, sorted by its ranks. Ranks take 7 bits, so the first 18 of them fit in
// two numbers, and most comparisons of game file names are one or two integer comparisons.
constexpr qsizetype ranksInHead = 18;

struct AsciiKey
{
    uint64_t head[2];
    const uint8_t* tail; // the ranks after the first 18
    uint32_t length;
    uint32_t index;
};

// The keys of one share of the names, and the names the rank table does not cover.
struct KeyRun
{
    std::vector<AsciiKey> keys;
    std::vector<uint8_t> tails;
    std::vector<qsizetype> others;
};

void makeKeys(const QStringList& names, qsizetype from, qsizetype to, KeyRun& run)
{
    const AsciiOrder& ascii = asciiOrder();
    // The tails are sized first, so that the keys may point into them.
    size_t tailBytes = 0;
    for (qsizetype i = from; i < to; ++i)
        tailBytes += size_t(std::max<qsizetype>(names.at(i).size() - ranksInHead, 0));
    run.tails.reserve(tailBytes);
    run.keys.reserve(size_t(to - from));
    for (qsizetype i = from; i < to; ++i) {
        const QString& name = names.at(i);
        if (!AsciiOrder::covers(name)) {
            run.others.push_back(i);
            continue;
        }
        AsciiKey key { { 0, 0 }, run.tails.data() + run.tails.size(), uint32_t(name.size()), uint32_t(i) };
        for (qsizetype k = 0; k < ranksInHead; ++k) {
            const uint64_t rank = k < name.size() ? ascii.rank(name.at(k).unicode()) : 0;
            key.head[k / 9] = (key.head[k / 9] << 7) | rank;
        }
        for (qsizetype k = ranksInHead; k < name.size(); ++k)
            run.tails.push_back(ascii.rank(name.at(k).unicode()));
        run.keys.push_back(key);
    }
}

std::vector<uint32_t> indicesOf(const std::vector<AsciiKey>& keys)
{
    std::vector<uint32_t> indices;
    indices.reserve(keys.size());
    for (const AsciiKey& key : keys)
        indices.push_back(key.index);
    return indices;
}

// The indices of the printable ASCII names in order, and of the others unordered.
std::vector<uint32_t> sortAscii(const QStringList& names, std::vector<qsizetype>& others)
{
    const auto less = [&](const AsciiKey& a, const AsciiKey& b) {
        if (a.head[0] != b.head[0])
            return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1])
            return a.head[1] < b.head[1];
        if (a.length > ranksInHead && b.length > ranksInHead) {
            const int tail
                = std::memcmp(a.tail, b.tail, std::min(a.length, b.length) - uint32_t(ranksInHead));
            if (tail != 0)
                return tail < 0;
        }
        if (a.length != b.length)
            return a.length < b.length;
        return QString::compare(names.at(a.index), names.at(b.index), Qt::CaseSensitive) < 0;
    };
    KeyRun first;
    if (names.size() < 4096) {
        makeKeys(names, 0, names.size(), first);
        std::sort(first.keys.begin(), first.keys.end(), less);
        others = std::move(first.others);
        return indicesOf(first.keys);
    }
    // Both cores make and sort the keys of half the names each; the halves are merged once.
    KeyRun second;
    const qsizetype half = names.size() / 2;
    HelperThread helper([&] {
        makeKeys(names, 0, half, first);
        std::sort(first.keys.begin(), first.keys.end(), less);
    });
    makeKeys(names, half, names.size(), second);
    std::sort(second.keys.begin(), second.keys.end(), less);
    helper.join();
    std::vector<uint32_t> indices;
    indices.reserve(first.keys.size() + second.keys.size());
    auto a = first.keys.cbegin();
    auto b = second.keys.cbegin();
    while (a != first.keys.cend() && b != second.keys.cend())
        indices.push_back(less(*b, *a) ? (b++)->index : (a++)->index);
    for (; a != first.keys.cend(); ++a)
        indices.push_back(a->index);
    for (; b != second.keys.cend(); ++b)
        indices.push_back(b->index);
    others = std::move(first.others);
    others.insert(others.end(), second.others.begin(), second.others.end());
    return indices;
}

}

bool nameLess(const QString& a, const QString& b)
{
    const int folded = collate(a, b);
    if (folded != 0)
        return folded < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

void sortNames(QStringList& names)
{
    if (names.size() < 2)
        return;
    // Printable ASCII names sort by the rank table; the others by collation keys, computed once each.
    std::vector<qsizetype> others;
    std::vector<uint32_t> ascii;
    if (asciiOrder().usable()) {
        ascii = sortAscii(names, others);
    } else {
        others.resize(size_t(names.size()));
        std::iota(others.begin(), others.end(), 0);
    }

    if (!others.empty()) {
        std::vector<QCollatorSortKey> keys;
        keys.reserve(others.size());
        for (const qsizetype index : others)
            keys.push_back(nameCollator().sortKey(names.at(index)));
        std::vector<size_t> order(others.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const int folded = keys[a].compare(keys[b]);
            if (folded != 0)
                return folded < 0;
            return QString::compare(names.at(others[a]), names.at(others[b]), Qt::CaseSensitive) < 0;
        });
        std::vector<qsizetype> sortedOthers;
        sortedOthers.reserve(others.size());
        for (const size_t k : order)
            sortedOthers.push_back(others[k]);
        others = std::move(sortedOthers);
    }

    // The two runs are merged by the collator itself, each other name finding its place among the
    // ASCII ones by binary search: few comparisons, as such names are few.
    QStringList sorted;
    sorted.reserve(names.size());
    auto next = ascii.cbegin();
    for (const qsizetype other : others) {
        const QString& name = names.at(other);
        const auto place = std::upper_bound(next, ascii.cend(), name,
            [&](const QString& value, uint32_t index) { return nameLess(value, names.at(index)); });
        for (; next != place; ++next)
            sorted.append(std::move(names[*next]));
        sorted.append(std::move(names[other]));
    }
    for (; next != ascii.cend(); ++next)
        sorted.append(std::move(names[*next]));
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
