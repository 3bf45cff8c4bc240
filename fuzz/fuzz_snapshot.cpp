// SPDX-License-Identifier: GPL-3.0-or-later
// Random bytes as a snapshot file: the reader must neither crash nor hang, and whatever it accepts
// must encode back to exactly the bytes it read (one spelling per snapshot, so nothing is lost or
// invented). Half the inputs get a correct checksum, so the fuzzer reaches the records.
#include "snapshot.h"

#include <cstdint>
#include <cstdlib>

#include <xxhash.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    QByteArray bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    if (data[0] & 1) {
        const quint64 sum = XXH3_64bits(bytes.constData(), size_t(bytes.size()));
        for (int i = 0; i < 8; ++i)
            bytes += char(sum >> (8 * i));
    }
    bool accepted = false;
    mending::Snapshot snapshot;
    try {
        snapshot = mending::decodeSnapshot(bytes);
        accepted = true;
    } catch (const mending::Failure& failure) {
        if (failure.message().isEmpty())
            std::abort();
    }
    if (accepted) {
        if (mending::encodeSnapshot(snapshot) != bytes)
            std::abort();
        const mending::SnapshotInfo info = mending::decodeSnapshotInfo(bytes);
        if (info.root != snapshot.root || info.fileCount != quint64(snapshot.files.size()))
            std::abort();
    }
    return 0;
}
