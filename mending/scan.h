// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileentry.h"

#include <atomic>

namespace mending {

struct ScanResult
{
    QList<FileEntry> files; // sorted by path bytes
    QList<ScanProblem> problems; // sorted by path bytes
};

// Lets another thread follow a scan and stop it.
struct ScanWatch
{
    std::atomic<qint64> files { 0 }; // found so far
    std::atomic<bool> cancel { false }; // once set, the scan stops early and its result is incomplete
};

// Every regular file and symbolic link below root, at any depth, hidden ones included. Links are
// recorded as links and never followed, so a link cannot lead the scan into a loop. Folders that
// cannot be read are reported and the rest is scanned. Throws Failure when root itself cannot be opened.
// threads = 0 uses one thread per core. With Names, files whose kind the folder's listing gives are
// not asked for their facts: only their path and kind are known, and their size is -1.
enum class ScanFacts { All, Names };
ScanResult scanFolder(
    const QByteArray& root, int threads = 0, ScanWatch* watch = nullptr, ScanFacts facts = ScanFacts::All);

// Opens a file or folder below an open folder, also where the relative path is longer than the
// system takes in one call. Returns -1 with errno set on failure.
int openBelow(int folderFd, const QByteArray& relativePath, int flags);

// The absolute, link-free form of a folder path; throws Failure naming the path when it is no folder.
QByteArray canonicalFolder(const QByteArray& path);

}
