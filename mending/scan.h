#pragma once

#include "fileentry.h"

namespace mending {

struct ScanResult
{
    QList<FileEntry> files; // sorted by path bytes
    QList<ScanProblem> problems; // sorted by path bytes
};

// Every regular file and symbolic link below root, at any depth, hidden ones included. Links are
// recorded as links and never followed, so a link cannot lead the scan into a loop. Folders that
// cannot be read are reported and the rest is scanned. Throws Failure when root itself cannot be opened.
// threads = 0 uses one thread per core.
ScanResult scanFolder(const QByteArray& root, int threads = 0);

// Opens a file or folder below an open folder, also where the relative path is longer than the
// system takes in one call. Returns -1 with errno set on failure.
int openBelow(int folderFd, const QByteArray& relativePath, int flags);

// The absolute, link-free form of a folder path; throws Failure naming the path when it is no folder.
QByteArray canonicalFolder(const QByteArray& path);

}
