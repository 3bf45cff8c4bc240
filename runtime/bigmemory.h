// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#endif

// An allocator for the few big arrays of a comparison or a folder read (a list's bytes, its lines,
// a hash table), tens of megabytes each. Their memory is asked for in huge pages where the system
// has them: touching 4 KiB pages one fault at a time would otherwise cost as much as the work.
// Elements are default-initialised, so a buffer about to be filled by read() is not zeroed first.
template <typename T> class BigAllocator
{
public:
    using value_type = T;

    BigAllocator() = default;
    template <typename U> BigAllocator(const BigAllocator<U>&) noexcept { }

    T* allocate(std::size_t count)
    {
        const std::size_t bytes = count * sizeof(T);
#if defined(Q_OS_UNIX) && defined(MADV_HUGEPAGE)
        if (bytes >= bigFrom) {
            // Over-ask by one huge page so the block can start on a huge-page boundary.
            const std::size_t asked = bytes + hugePage;
            void* mapped = ::mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (mapped == MAP_FAILED)
                throw std::bad_alloc();
            const auto raw = reinterpret_cast<std::uintptr_t>(mapped);
            const std::uintptr_t aligned = (raw + hugePage - 1) & ~std::uintptr_t(hugePage - 1);
            if (aligned > raw)
                ::munmap(mapped, aligned - raw);
            const std::uintptr_t end = raw + asked;
            const std::uintptr_t used = (aligned + bytes + pageSize - 1) & ~std::uintptr_t(pageSize - 1);
            if (end > used)
                ::munmap(reinterpret_cast<void*>(used), end - used);
            ::madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
            return reinterpret_cast<T*>(aligned);
        }
#endif
        return std::allocator<T>().allocate(count);
    }

    void deallocate(T* block, std::size_t count) noexcept
    {
        const std::size_t bytes = count * sizeof(T);
#if defined(Q_OS_UNIX) && defined(MADV_HUGEPAGE)
        if (bytes >= bigFrom) {
            ::munmap(block, bytes);
            return;
        }
#endif
        std::allocator<T>().deallocate(block, count);
    }

    template <typename U, typename... Arguments> void construct(U* place, Arguments&&... arguments)
    {
        if constexpr (sizeof...(Arguments) == 0)
            ::new (static_cast<void*>(place)) U;
        else
            ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
    }

    friend bool operator==(const BigAllocator&, const BigAllocator&)
    {
        return true;
    }

private:
    static constexpr std::size_t bigFrom = std::size_t(4) << 20;
    static constexpr std::size_t hugePage = std::size_t(2) << 20;
    static constexpr std::size_t pageSize = 4096;
};

template <typename T> using BigVector = std::vector<T, BigAllocator<T>>;
