// SPDX-License-Identifier: GPL-3.0-or-later
// Random bytes as an old and a new folder list: reading and comparing must not crash or hang, and
// must agree with a plain reference that splits lines and compares their bytes with std::set.
#include "listfile.h"
#include "namecodec.h"
#include "newfiles.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<std::string> referenceLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::string line;
    auto flush = [&] {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        line.clear();
    };
    for (char c : bytes) {
        if (c == '\n')
            flush();
        else
            line += c;
    }
    flush();
    return lines;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte chooses where the old list ends and the new one begins.
    if (size == 0)
        return 0;
    const size_t cut = size > 1 ? 1 + data[0] % size : 1;
    const std::string oldBytes(reinterpret_cast<const char*>(data) + 1, cut - 1);
    const std::string newBytes(reinterpret_cast<const char*>(data) + cut, size - cut);

    const QStringList oldNames = parseListNames(QByteArray(oldBytes.data(), qsizetype(oldBytes.size())));
    const QStringList newNames = parseListNames(QByteArray(newBytes.data(), qsizetype(newBytes.size())));
    const QStringList added = newFileNames(oldNames, newNames);

    // The reference compares the bytes of each line: names are bytes, whatever their encoding.
    const std::vector<std::string> oldRef = referenceLines(oldBytes);
    const std::vector<std::string> newRef = referenceLines(newBytes);
    const std::set<std::string> known(oldRef.begin(), oldRef.end());
    std::vector<std::string> expected;
    for (const std::string& name : newRef) {
        if (!known.count(name))
            expected.push_back(name);
    }
    if (size_t(newNames.size()) != newRef.size() || size_t(added.size()) != expected.size())
        std::abort();
    for (size_t i = 0; i < expected.size(); ++i) {
        if (encodeName(added.at(qsizetype(i))).toStdString() != expected[i])
            std::abort();
    }

    // Names without line breaks survive a save and a read unchanged.
    const QString listing = composeListing(newNames);
    if (parseListNames(listFileBytes(listing)) != newNames)
        std::abort();
    return 0;
}
