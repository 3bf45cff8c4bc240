#include "newfiles.h"

#include <QHashFunctions>
#include <QStringView>

#include <bit>
#include <cstdint>
#include <vector>

namespace {

// The old names as a flat open-addressing table of (hash, index) pairs: one cache line answers most
// look-ups, and a name's characters are read only when its hash matches.
class NameSet
{
public:
    explicit NameSet(const QStringList& names)
        : m_names(names)
    {
        const size_t wanted = std::bit_ceil(size_t(names.size()) * 2 + 16);
        m_slots.assign(wanted, Slot {});
        m_mask = wanted - 1;
        for (qsizetype i = 0; i < names.size(); ++i)
            insert(i);
    }

    bool contains(QStringView name) const
    {
        const uint32_t hash = hashOf(name);
        for (size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
            const Slot& slot = m_slots[at];
            if (slot.index < 0)
                return false;
            if (slot.hash == hash && QStringView(m_names.at(slot.index)) == name)
                return true;
        }
    }

private:
    struct Slot
    {
        uint32_t hash = 0;
        int32_t index = -1;
    };

    static uint32_t hashOf(QStringView name) { return uint32_t(qHash(name, 0x5bd1e995u)); }

    void insert(qsizetype index)
    {
        const QStringView name(m_names.at(index));
        const uint32_t hash = hashOf(name);
        for (size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
            Slot& slot = m_slots[at];
            if (slot.index < 0) {
                slot = { hash, int32_t(index) };
                return;
            }
            if (slot.hash == hash && QStringView(m_names.at(slot.index)) == name)
                return; // a name listed twice is known once
        }
    }

    const QStringList& m_names;
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
};

}

QStringList newFileNames(const QStringList& oldNames, const QStringList& newNames)
{
    const NameSet known(oldNames);
    QStringList added;
    for (const QString& name : newNames) {
        if (!known.contains(name))
            added.append(name);
    }
    return added;
}

QString newFilesReport(const QStringList& names)
{
    static constexpr QStringView indent = u"        ";
    static constexpr QStringView lineEnd = u"\r\n";
    qsizetype length = 0;
    for (const QString& name : names)
        length += indent.size() + name.size() + lineEnd.size();
    QString report;
    report.reserve(length);
    for (const QString& name : names) {
        report.append(indent);
        report.append(name);
        report.append(lineEnd);
    }
    return report;
}
