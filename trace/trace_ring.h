// The recorder's memory between the calling threads and the thread that
// writes the trace file: a bounded ring of whole records.
//
// A calling thread only copies its record in (Push) and never waits for the
// file: when the ring is full the record is dropped and counted. Callers are
// serialised among themselves by a spin lock held for the copy alone; the
// writer takes records out (Take) without any lock, so it never holds a
// caller up.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qtrace {

class TraceRing {
public:
    // capacity: bytes, rounded up to a power of two.
    explicit TraceRing(size_t capacity);
    TraceRing(const TraceRing&) = delete;
    TraceRing& operator=(const TraceRing&) = delete;

    // A record given in pieces that are copied one after the other.
    struct Piece {
        const void* bytes;
        size_t size;
    };
    // Copies one record whose first two bytes (of the first piece) hold its
    // whole size. False, and one more dropped record counted, when the ring
    // has no room for it.
    bool Push(const Piece* pieces, int count);

    // Moves whole records, oldest first, into out (at most room bytes) and
    // returns the bytes moved. For the one writer thread only.
    size_t Take(uint8_t* out, size_t room);

    // Records dropped since the ring was made.
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
    size_t capacity() const { return mask_ + 1; }
    bool empty() const {
        return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_relaxed);
    }

private:
    void CopyIn(uint64_t at, const void* bytes, size_t size);
    void CopyOut(uint64_t at, uint8_t* out, size_t size) const;

    std::vector<uint8_t> buffer_;
    size_t mask_;
    std::atomic<uint64_t> head_{0};  // end of the published records
    std::atomic<uint64_t> tail_{0};  // start of the records not yet taken
    std::atomic<uint64_t> dropped_{0};
    std::atomic_flag pushing_ = ATOMIC_FLAG_INIT;
};

}  // namespace qtrace
