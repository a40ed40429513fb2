// The recorder's memory between the calling threads and the thread that
// writes the trace file: a bounded ring of whole records.
//
// A calling thread only copies its record in and never waits for the file:
// when the ring is full the record is dropped and counted. Callers are
// serialised among themselves by a spin lock held while the record is
// written into the ring, a few dozen bytes; the writer takes records out
// (Take) without any lock, so it never holds a caller up.
//
// Inside the ring each record is an entry: a 32-bit size (a multiple of 4,
// the size itself included), the record, and up to 3 bytes of filling. An
// entry never wraps around the ring's end: where one would not fit, a filler
// entry (size with bit 31 set) takes the rest and the entry starts at 0.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qtrace {

class TraceRing {
public:
    // capacity: bytes, rounded up to a power of two of at least 4096.
    explicit TraceRing(size_t capacity);  // at most 1 GB
    TraceRing(const TraceRing&) = delete;
    TraceRing& operator=(const TraceRing&) = delete;

    // Room for a record of size bytes, in one piece, or null when the ring is
    // full (the record is counted as dropped and EndPush must not follow).
    // Between BeginPush and EndPush the caller holds the ring's spin lock.
    uint8_t* BeginPush(size_t size);
    // Publishes the record written since BeginPush.
    void EndPush();

    // Moves whole records, oldest first, into out (at most room bytes) and
    // returns the bytes moved; each record's first two bytes hold its size.
    // For one thread at a time (the writer's).
    size_t Take(uint8_t* out, size_t room);

    // Records dropped since the ring was made (modulo 2^32).
    uint32_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    static constexpr uint32_t kFiller = 0x80000000u;

    std::vector<uint8_t> buffer_;
    size_t mask_;
    // Positions count bytes modulo 2^32 (32-bit atomics are plain loads and
    // stores on the 32-bit target, where 64-bit ones are not); the capacity
    // is far below that, so differences stay right.
    std::atomic<uint32_t> head_{0};  // end of the published entries
    std::atomic<uint32_t> tail_{0};  // start of the entries not yet taken
    std::atomic<uint32_t> dropped_{0};
    std::atomic_flag pushing_ = ATOMIC_FLAG_INIT;
    uint32_t pending_ = 0;  // where the entry being written ends (under the lock)
};

// The callers' side is inline: it runs on every recorded call.
inline uint8_t* TraceRing::BeginPush(size_t size) {
    const size_t entry = (4 + size + 3) & ~size_t{3};
    while (pushing_.test_and_set(std::memory_order_acquire)) {
    }
    uint32_t head = head_.load(std::memory_order_relaxed);
    const uint32_t tail = tail_.load(std::memory_order_acquire);
    const size_t start = static_cast<size_t>(head) & mask_;
    const size_t filler = start + entry > buffer_.size() ? buffer_.size() - start : 0;
    if (entry + filler > buffer_.size() - static_cast<size_t>(head - tail)) {
        pushing_.clear(std::memory_order_release);
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    if (filler != 0) {
        const uint32_t fillerSize = static_cast<uint32_t>(filler) | kFiller;
        std::memcpy(&buffer_[start], &fillerSize, 4);
        head += static_cast<uint32_t>(filler);
    }
    uint8_t* at = &buffer_[static_cast<size_t>(head) & mask_];
    const uint32_t entrySize = static_cast<uint32_t>(entry);
    std::memcpy(at, &entrySize, 4);
    pending_ = head + static_cast<uint32_t>(entry);
    return at + 4;
}

inline void TraceRing::EndPush() {
    head_.store(pending_, std::memory_order_release);
    pushing_.clear(std::memory_order_release);
}

}  // namespace qtrace
