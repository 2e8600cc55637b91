// The panel's drawings as the screen worker makes them, recorded on the
// worker thread without a lock or an allocation (it is the only writer) and
// read on another thread up to the count it has published.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>

namespace screentest {

class DrawLog {
public:
    struct Drawing {
        std::chrono::steady_clock::time_point sent;
        bool inverted;
    };
    static constexpr std::size_t kCapacity = 8192;

    // Worker thread. Past the capacity only the count grows.
    void Add(bool inverted, std::chrono::steady_clock::time_point sent)
    {
        const std::size_t count = published.load(std::memory_order_relaxed);
        if (count < kCapacity)
            drawings[count] = {sent, inverted};
        published.store(count + 1, std::memory_order_release);
    }
    // Any thread: the drawings [0, Count()) may be read (while Count() is
    // not above the capacity).
    std::size_t Count() const { return published.load(std::memory_order_acquire); }
    const Drawing& operator[](std::size_t index) const { return drawings[index]; }

private:
    std::array<Drawing, kCapacity> drawings;
    std::atomic<std::size_t> published{0};
};

}  // namespace screentest
