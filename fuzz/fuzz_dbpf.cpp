// SPDX-License-Identifier: GPL-3.0-or-later
// Random bytes as a .package file: the reader must neither crash nor hang, must ask only for bytes
// inside the file, must read no more than the header and the index, and every entry it accepts must
// lie inside the file.
#include "dbpf.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    quint64 asked = 0;
    const mending::ReadAt readAt = [data, size, &asked](quint64 offset, quint32 length, char* out) {
        if (offset + length > size)
            std::abort();
        std::memcpy(out, data + offset, length);
        asked += length;
        return true;
    };
    const mending::PackageIndex index = mending::parsePackageIndex(size, readAt);
    if (index.state != mending::PackageState::Read) {
        if (index.problem.isEmpty() || !index.entries.isEmpty())
            std::abort();
        return 0;
    }
    // The header (read twice, its first word and then whole) and the index, which lies after it.
    if (asked > 100 + (size > 96 ? size - 96 : 0))
        std::abort();
    for (const mending::IndexEntry& entry : index.entries) {
        if (quint64(entry.position) + entry.sizeOnDisk > size)
            std::abort();
    }
    return 0;
}
