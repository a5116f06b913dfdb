#pragma once

#include <array>
#include <atomic>
#include <cstddef>

// A fixed-size lock-free queue between exactly one producer thread and one
// consumer thread. push() never waits and never allocates: on a full ring it
// returns false and the item is dropped (the caller counts it). pop() returns
// false when nothing waits. Capacity must be a power of two; one slot stays
// free, so at most Capacity - 1 items wait at a time.
//
// Threads: push() on the producer only, pop() on the consumer only; empty()
// anywhere (a snapshot).
template <typename T, std::size_t Capacity> class SpscRing
{
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0,
                  "capacity must be a power of two");

public:
    bool push(const T& item)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t next = (head + 1) & (Capacity - 1);
        if (next == tail_.load(std::memory_order_acquire))
            return false;
        items_[head] = item;
        head_.store(next, std::memory_order_release);
        return true;
    }

    bool pop(T& item)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire))
            return false;
        item = items_[tail];
        tail_.store((tail + 1) & (Capacity - 1), std::memory_order_release);
        return true;
    }

    bool empty() const
    {
        return tail_.load(std::memory_order_acquire) == head_.load(std::memory_order_acquire);
    }

private:
    std::array<T, Capacity> items_{};
    // Each index on a cache line of its own, so that the two threads do not
    // keep taking the line from each other.
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};
