// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <thread>
#include <utility>

// Work handed to the second core while this thread does its own share. An exception thrown there
// (memory running out on a huge list, say) is thrown again here by join(), so it reaches the
// window as any failure does; and the helper is always joined, even when this thread's own share
// fails first.
class HelperThread
{
public:
    template <typename Work>
    explicit HelperThread(Work work)
        : m_thread([this, work = std::move(work)]() mutable {
            try {
                work();
            } catch (...) {
                m_error = std::current_exception();
            }
        })
    { }
    ~HelperThread()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;

    void join()
    {
        m_thread.join();
        if (m_error)
            std::rethrow_exception(std::exchange(m_error, nullptr));
    }

private:
    std::exception_ptr m_error;
    std::thread m_thread;
};
