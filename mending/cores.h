// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <thread>
#include <vector>

// Work spread over the cores: scans, package indexes and file contents are read on every core at once.
namespace mending {

// One thread per core, and at least one.
inline int coreCount()
{
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

// Runs work(0) to work(count - 1) at once, work(0) on the calling thread, and returns when every one
// has ended (also when work(0) throws).
template <typename Work> void onThreads(int count, const Work& work)
{
    struct Helpers
    {
        std::vector<std::thread> threads;
        ~Helpers()
        {
            for (std::thread& thread : threads)
                thread.join();
        }
    } helpers;
    for (int i = 1; i < count; ++i)
        helpers.threads.emplace_back([&work, i] { work(i); });
    work(0);
}

}
