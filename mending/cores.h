// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <system_error>
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
// has ended (also when work(0) throws). Where no more threads are to be had (a limit on processes),
// the calling thread does the rest of the work after its own: every work takes its share from what
// is left, so that it ends either way.
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
    int started = 1;
    try {
        for (; started < count; ++started)
            helpers.threads.emplace_back([&work, started] { work(started); });
    } catch (const std::system_error&) { }
    work(0);
    for (int i = started; i < count; ++i)
        work(i);
}

}
