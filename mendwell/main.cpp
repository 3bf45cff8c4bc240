// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <limits.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The window lives in its own program beside this one: commands then start without loading the
// widget libraries, which would cost every scripted call more than a whole small scan.
int openWindow(char* argv[])
{
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    QByteArray window = length > 0 ? QByteArray(self, length) : QByteArray(argv[0]);
    window = window.first(window.lastIndexOf('/') + 1) + "mendwell-window";
    ::execv(window.constData(), argv);
    std::fprintf(
        stderr, "mendwell: cannot start the window %s: %s\n", window.constData(), std::strerror(errno));
    return ExitStatus::Trouble;
}

// A scan makes one small allocation per file, lists that grow by doubling and buffers of megabytes.
// They are all kept in the heap, so that freed blocks are reused instead of each large one mapping
// fresh pages, and the heap grows in large steps backed by large pages where the system has them:
// it then faults in 2 MiB at a time instead of 4 KiB, which spares a snapshot of 100,000 files some
// 5,000 page faults and a fourteenth of its time.
void prepareHeap()
{
#ifdef __GLIBC__
    constexpr size_t pad = size_t(64) << 20;
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20); // the most glibc takes; a larger value is refused
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    ::mallopt(M_TOP_PAD, int(pad));
    // The first block of a megabyte grows the heap by the pad at once; all of that is then advised.
    void* first = ::malloc(1 << 20);
    const auto from = reinterpret_cast<uintptr_t>(first);
    ::free(first);
    const auto to = reinterpret_cast<uintptr_t>(::sbrk(0));
    constexpr uintptr_t largePage = 2 << 20;
    const uintptr_t start = (from + largePage - 1) & ~(largePage - 1);
    // Only where the block came from the heap just grown (not from a mapping of its own).
    if (from != 0 && to > start && to - from <= pad + (4 << 20))
        ::madvise(reinterpret_cast<void*>(start), to - start, MADV_HUGEPAGE);
#endif
}

}

int main(int argc, char* argv[])
{
    if (argc <= 1)
        return openWindow(argv);
    prepareHeap();
    // A command needs no display: players run them from scripts and over ssh.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Mendwell"));
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    return runCommand(arguments, stdout, stderr);
}
