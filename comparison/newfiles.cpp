// SPDX-License-Identifier: GPL-3.0-or-later
#include "newfiles.h"

#include "helperthread.h"
#include "listfile.h"
#include "namecodec.h"

#include <QUtf8StringView>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Below this many names a second thread costs more than it saves.
constexpr size_t parallelFrom = 1 << 16;

// How far ahead the probes fetch their table slots and name bytes: a million-name table is far
// bigger than the caches, so each look-up would otherwise wait on memory twice.
constexpr size_t slotLead = 16;
constexpr size_t bytesLead = 8;

struct Names
{
    const char* data = nullptr;
    ListLines lines;
    BigVector<uint64_t> hashes;

    QByteArrayView at(size_t i) const { return { data + lines[i].start, lines[i].length }; }
};

void hashAll(Names& names)
{
    names.hashes.resize(names.lines.size());
    for (size_t i = 0; i < names.lines.size(); ++i)
        names.hashes[i] = XXH3_64bits(names.data + names.lines[i].start, size_t(names.lines[i].length));
}

// The old names as a flat open-addressing table. Each slot holds where its name's bytes lie and
// the upper half of the hash, so a look-up reads the bytes only when that half matches too.
class NameTable
{
public:
    explicit NameTable(const Names& names)
        : m_data(names.data)
    {
        const size_t wanted = std::bit_ceil(names.lines.size() + names.lines.size() / 2 + 16);
        m_slots.assign(wanted, Slot {});
        m_mask = wanted - 1;
        for (size_t i = 0; i < names.lines.size(); ++i) {
            if (i + slotLead < names.lines.size())
                prefetchSlot(names.hashes[i + slotLead]);
            insert(names.lines[i], names.hashes[i]);
        }
    }

    void prefetchSlot(uint64_t hash) const { __builtin_prefetch(&m_slots[hash & m_mask]); }

    // Fetches the bytes of the name that the hash most likely matches.
    void prefetchBytes(uint64_t hash) const
    {
        const Slot& slot = m_slots[hash & m_mask];
        if (slot.start != emptySlot && slot.tag == tagOf(hash))
            __builtin_prefetch(m_data + slot.start);
    }

    bool contains(QByteArrayView name, uint64_t hash) const
    {
        const uint32_t tag = tagOf(hash);
        for (size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
            const Slot& slot = m_slots[at];
            if (slot.start == emptySlot)
                return false;
            if (slot.tag == tag && slot.length == uint64_t(name.size())
                && std::memcmp(m_data + slot.start, name.data(), size_t(name.size())) == 0)
                return true;
        }
    }

private:
    struct Slot
    {
        uint64_t start = emptySlot;
        uint32_t length = 0;
        uint32_t tag = 0;
    };

    static constexpr uint64_t emptySlot = UINT64_MAX;

    static uint32_t tagOf(uint64_t hash) { return uint32_t(hash >> 32); }

    void insert(const ListLine& line, uint64_t hash)
    {
        const QByteArrayView name(m_data + line.start, line.length);
        if (contains(name, hash))
            return; // a name listed twice is known once
        size_t at = hash & m_mask;
        while (m_slots[at].start != emptySlot)
            at = (at + 1) & m_mask;
        // A name longer than 4 GiB is no file name; such a line is kept by its first 4 GiB.
        m_slots[at]
            = { uint64_t(line.start), uint32_t(std::min<qsizetype>(line.length, UINT32_MAX)), tagOf(hash) };
    }

    const char* m_data;
    BigVector<Slot> m_slots;
    size_t m_mask = 0;
};

// The indices in [from, to) of the new names that the table lacks.
std::vector<uint32_t> missing(const NameTable& known, const Names& names, size_t from, size_t to)
{
    std::vector<uint32_t> found;
    for (size_t i = from; i < to; ++i) {
        if (i + slotLead < to)
            known.prefetchSlot(names.hashes[i + slotLead]);
        if (i + bytesLead < to)
            known.prefetchBytes(names.hashes[i + bytesLead]);
        if (!known.contains(names.at(i), names.hashes[i]))
            found.push_back(uint32_t(i));
    }
    return found;
}

NewFiles compare(Names& oldNames, Names& newNames)
{
    const bool parallel = oldNames.lines.size() + newNames.lines.size() >= parallelFrom;
    std::vector<uint32_t> added;
    if (!parallel) {
        hashAll(oldNames);
        hashAll(newNames);
        const NameTable known(oldNames);
        added = missing(known, newNames, 0, newNames.lines.size());
    } else {
        // One core builds the table of old names while the other hashes the new ones; then each
        // looks up half of the new names.
        std::unique_ptr<NameTable> known;
        HelperThread builder([&] {
            hashAll(oldNames);
            known = std::make_unique<NameTable>(oldNames);
        });
        hashAll(newNames);
        builder.join();
        const size_t half = newNames.lines.size() / 2;
        std::vector<uint32_t> firstHalf;
        HelperThread prober([&] { firstHalf = missing(*known, newNames, 0, half); });
        const std::vector<uint32_t> secondHalf = missing(*known, newNames, half, newNames.lines.size());
        prober.join();
        added = std::move(firstHalf);
        added.insert(added.end(), secondHalf.begin(), secondHalf.end());
    }
    NewFiles result;
    result.total = qsizetype(newNames.lines.size());
    result.added.reserve(added.size());
    for (const uint32_t i : added)
        result.added.push_back(newNames.at(i));
    return result;
}

// Names given as strings are laid out as bytes, one after the other, to be compared as a list file's are.
Names encodeAll(const QStringList& names, QByteArray& storage)
{
    Names laid;
    laid.lines.reserve(size_t(names.size()));
    for (const QString& name : names) {
        const QByteArray bytes = encodeName(name);
        laid.lines.push_back({ storage.size(), bytes.size() });
        storage.append(bytes);
    }
    laid.data = storage.constData();
    return laid;
}

}

NewFiles findNewFiles(QByteArrayView oldList, QByteArrayView newList)
{
    Names oldNames, newNames;
    if (oldList.size() + newList.size() >= qsizetype(parallelFrom) * 16) {
        HelperThread splitter([&] {
            oldNames.data = oldList.data();
            oldNames.lines = splitListLines(oldList);
        });
        newNames.data = newList.data();
        newNames.lines = splitListLines(newList);
        splitter.join();
    } else {
        oldNames.data = oldList.data();
        oldNames.lines = splitListLines(oldList);
        newNames.data = newList.data();
        newNames.lines = splitListLines(newList);
    }
    return compare(oldNames, newNames);
}

QStringList newFileNames(const QStringList& oldNames, const QStringList& newNames)
{
    QByteArray oldBytes, newBytes;
    Names oldLaid = encodeAll(oldNames, oldBytes);
    Names newLaid = encodeAll(newNames, newBytes);
    const NewFiles found = compare(oldLaid, newLaid);
    QStringList added;
    added.reserve(qsizetype(found.added.size()));
    for (const QByteArrayView name : found.added)
        added.append(decodeName(name));
    return added;
}

QString newFilesReport(const QStringList& names)
{
    static constexpr QStringView indent = u"        ";
    const QStringView end(lineEnd);
    qsizetype length = 0;
    for (const QString& name : names)
        length += indent.size() + name.size() + end.size();
    QString report;
    report.reserve(length);
    for (const QString& name : names) {
        report.append(indent);
        report.append(name);
        report.append(end);
    }
    return report;
}

QString newFilesText(const NewFiles& found)
{
    const std::vector<QByteArrayView>& names = found.added;
    // The report is laid out as bytes and, when it is all valid UTF-8 as it nearly always is,
    // decoded in one go: the spaces and line ends between the names are plain ASCII, which no UTF-8
    // sequence spans, so each name decodes exactly as it would alone.
    static constexpr char indent[] = "        ";
    qsizetype length = 0;
    for (const QByteArrayView name : names)
        length += 8 + name.size() + 2;
    QByteArray bytes;
    bytes.reserve(length);
    for (const QByteArrayView name : names) {
        bytes.append(indent, 8);
        bytes.append(name);
        bytes.append("\r\n", 2);
    }
    if (QUtf8StringView(bytes).isValidUtf8())
        return QString::fromUtf8(bytes);
    // A name with bytes that are no UTF-8 is decoded alone, so the others keep the fast decoder.
    QStringList decoded;
    decoded.reserve(qsizetype(names.size()));
    for (const QByteArrayView name : names)
        decoded.append(decodeName(name));
    return newFilesReport(decoded);
}
