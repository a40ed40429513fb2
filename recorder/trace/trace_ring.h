// The recorder's memory between the calling threads and the thread that
// writes the trace file: a bounded ring of whole records.
//
// A calling thread only copies its record in and never waits for the file:
// when the ring is full the record is dropped and counted. Callers are
// serialised among themselves by a spin lock held while the record is
// written into the ring, a few dozen bytes; the writer takes records out
// (Take) without any lock, so it never holds a caller up.
//
// A loss is kept in the ring's order: the next record pushed after records
// were dropped is preceded by room for a record of the loss (how many, and
// the first one's time), so that the trace shows the loss where it happened.
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
#include <thread>
#include <vector>

namespace qtrace {

// Records dropped since the last record that got into the ring.
struct Loss {
    uint32_t records = 0;
    uint64_t firstTicks = 0;  // the time stamp of the first of them
};

class TraceRing {
public:
    // capacity: bytes, rounded up to a power of two of at least 4096 and at
    // most 1 GB; lossBytes: the size of the record that tells of a loss.
    TraceRing(size_t capacity, size_t lossBytes);
    TraceRing(const TraceRing&) = delete;
    TraceRing& operator=(const TraceRing&) = delete;

    // Room for a record of size bytes with time stamp ticks, in one piece, or
    // null when the ring is full (the record is counted as dropped and
    // EndPush must not follow). Between BeginPush and EndPush the caller
    // holds the ring's spin lock. When records were dropped before this one,
    // *loss tells of them and *lossRecord is room of lossBytes in front of
    // the record, for the record of the loss; else loss->records is 0.
    uint8_t* BeginPush(size_t size, uint64_t ticks, Loss* loss, uint8_t** lossRecord);
    // Publishes the record(s) written since BeginPush.
    void EndPush();

    // Moves whole records, oldest first, into out (at most room bytes) and
    // returns the bytes moved; each record's first two bytes hold its size.
    // For one thread at a time (the writer's).
    size_t Take(uint8_t* out, size_t room);
    // For the writer once Take found nothing: a loss that no record has
    // followed yet, which the writer then records itself. False when there is
    // none, or when a record came in meanwhile (Take again).
    bool TakeLoss(Loss* loss);

    // Records dropped since the ring was made (modulo 2^32).
    uint32_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    static constexpr uint32_t kFiller = 0x80000000u;

    void Lock();
    void Unlock() { pushing_.clear(std::memory_order_release); }
    // Claims an entry of size bytes (the size included) at head; false when
    // the ring has no room for it. Under the lock.
    bool Claim(uint32_t& head, size_t size, uint8_t** at);

    std::vector<uint8_t> buffer_;
    size_t mask_;
    // Positions count bytes modulo 2^32 (32-bit atomics are plain loads and
    // stores on the 32-bit target, where 64-bit ones are not); the capacity
    // is far below that, so differences stay right.
    std::atomic<uint32_t> head_{0};  // end of the published entries
    std::atomic<uint32_t> tail_{0};  // start of the entries not yet taken
    std::atomic<uint32_t> dropped_{0};
    std::atomic_flag pushing_ = ATOMIC_FLAG_INIT;
    // Under the lock:
    uint32_t pending_ = 0;  // where the entries being written end
    Loss loss_;             // dropped since the last record that got in
    const size_t lossBytes_;
};

// The callers' side is inline: it runs on every recorded call.
inline void TraceRing::Lock() {
    // A holder is only ever a few dozen bytes from letting go, unless it was
    // preempted: then spinning on would keep it off a single core.
    for (int spins = 0; pushing_.test_and_set(std::memory_order_acquire); ++spins) {
        if (spins >= 64) std::this_thread::yield();
    }
}

inline bool TraceRing::Claim(uint32_t& head, size_t size, uint8_t** at) {
    const size_t entry = (4 + size + 3) & ~size_t{3};
    const uint32_t tail = tail_.load(std::memory_order_acquire);
    const size_t start = static_cast<size_t>(head) & mask_;
    const size_t filler = start + entry > buffer_.size() ? buffer_.size() - start : 0;
    if (entry + filler > buffer_.size() - static_cast<size_t>(head - tail)) return false;
    if (filler != 0) {
        const uint32_t fillerSize = static_cast<uint32_t>(filler) | kFiller;
        std::memcpy(&buffer_[start], &fillerSize, 4);
        head += static_cast<uint32_t>(filler);
    }
    uint8_t* entryAt = &buffer_[static_cast<size_t>(head) & mask_];
    const uint32_t entrySize = static_cast<uint32_t>(entry);
    std::memcpy(entryAt, &entrySize, 4);
    head += entrySize;
    *at = entryAt + 4;
    return true;
}

inline uint8_t* TraceRing::BeginPush(size_t size, uint64_t ticks, Loss* loss,
                                     uint8_t** lossRecord) {
    Lock();
    uint32_t head = head_.load(std::memory_order_relaxed);
    uint8_t* at = nullptr;
    *loss = loss_;
    if ((loss_.records == 0 || Claim(head, lossBytes_, lossRecord)) && Claim(head, size, &at)) {
        loss_ = Loss();
        pending_ = head;
        return at;
    }
    if (loss_.records++ == 0) loss_.firstTicks = ticks;
    Unlock();
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
}

inline void TraceRing::EndPush() {
    head_.store(pending_, std::memory_order_release);
    Unlock();
}

}  // namespace qtrace
