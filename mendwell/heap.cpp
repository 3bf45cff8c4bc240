// SPDX-License-Identifier: GPL-3.0-or-later
#include "heap.h"

#include "cores.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <latch>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

// Only glibc's own allocator is shaped: a sanitizer's allocator takes its place, with its own layout.
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define SHAPE_THE_HEAP 1
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace {

#ifdef SHAPE_THE_HEAP

constexpr size_t pad = size_t(64) << 20;

// The mapping that holds address, as the kernel lists this process's memory; empty if none does.
std::pair<uintptr_t, uintptr_t> mappingOf(uintptr_t address)
{
    std::FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return {};
    std::pair<uintptr_t, uintptr_t> found;
    char line[512];
    while (std::fgets(line, sizeof line, maps)) {
        unsigned long low = 0;
        unsigned long high = 0;
        if (std::sscanf(line, "%lx-%lx", &low, &high) == 2 && low <= address && address < high) {
            found = { low, high };
            break;
        }
    }
    std::fclose(maps);
    return found;
}

// Makes the calling thread's heap grow by the pad now, and advises large pages for all of it.
void adviseOwnHeap()
{
    void* block = ::malloc(1 << 20);
    const auto at = reinterpret_cast<uintptr_t>(block);
    ::free(block);
    if (at == 0)
        return;
    // The whole mapping: the kernel puts large pages where 2 MiB of it lie aligned.
    const auto [low, high] = mappingOf(at);
    if (high > low)
        ::madvise(reinterpret_cast<void*>(low), high - low, MADV_HUGEPAGE);
}

#endif

}

void prepareHeap()
{
#ifdef SHAPE_THE_HEAP
    // Blocks of up to 32 MiB (the most glibc takes) come from the heap, so that freed ones are reused
    // instead of each mapping fresh pages; the heap is never given back while a command runs.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
    ::mallopt(M_TOP_PAD, int(pad));
    adviseOwnHeap();
    // Every other thread gets a heap of its own at its first allocation, and a thread that ends leaves
    // its heap to the next one started. Heaps made and advised now, one per core, serve the workers
    // of every scan, encoding and check of the command, and the thread that decodes a snapshot while
    // a diff scans. (On a machine of many cores, the workers past the sixteenth take heaps of their
    // own, as every thread would without this.)
    const int others = std::min(mending::coreCount(), 16);
    std::latch allHaveOne(others);
    std::vector<std::thread> threads;
    try {
        for (int i = 0; i < others; ++i)
            threads.emplace_back([&allHaveOne] {
                adviseOwnHeap();
                allHaveOne.arrive_and_wait();
            });
    } catch (const std::system_error&) {
        // No more threads to be had (a limit on processes): the command goes on with those it has.
        allHaveOne.count_down(others - std::ptrdiff_t(threads.size()));
    }
    for (std::thread& thread : threads)
        thread.join();
#endif
}
