#include "trace/trace_ring.h"

#include <cstring>

namespace qtrace {

namespace {

size_t PowerOfTwoAtLeast(size_t size) {
    size_t power = 4096;
    while (power < size) power <<= 1;
    return power;
}

}  // namespace

TraceRing::TraceRing(size_t capacity)
    : buffer_(PowerOfTwoAtLeast(capacity)), mask_(buffer_.size() - 1) {}

void TraceRing::CopyIn(uint64_t at, const void* bytes, size_t size) {
    const size_t start = static_cast<size_t>(at) & mask_;
    const size_t first = size < buffer_.size() - start ? size : buffer_.size() - start;
    std::memcpy(&buffer_[start], bytes, first);
    if (first < size)
        std::memcpy(&buffer_[0], static_cast<const uint8_t*>(bytes) + first, size - first);
}

void TraceRing::CopyOut(uint64_t at, uint8_t* out, size_t size) const {
    const size_t start = static_cast<size_t>(at) & mask_;
    const size_t first = size < buffer_.size() - start ? size : buffer_.size() - start;
    std::memcpy(out, &buffer_[start], first);
    if (first < size) std::memcpy(out + first, &buffer_[0], size - first);
}

bool TraceRing::Push(const Piece* pieces, int count) {
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += pieces[i].size;
    while (pushing_.test_and_set(std::memory_order_acquire)) {
    }
    const uint64_t head = head_.load(std::memory_order_relaxed);
    const uint64_t tail = tail_.load(std::memory_order_acquire);
    if (total > buffer_.size() - static_cast<size_t>(head - tail)) {
        pushing_.clear(std::memory_order_release);
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    uint64_t at = head;
    for (int i = 0; i < count; ++i) {
        CopyIn(at, pieces[i].bytes, pieces[i].size);
        at += pieces[i].size;
    }
    head_.store(at, std::memory_order_release);
    pushing_.clear(std::memory_order_release);
    return true;
}

size_t TraceRing::Take(uint8_t* out, size_t room) {
    const uint64_t head = head_.load(std::memory_order_acquire);
    uint64_t tail = tail_.load(std::memory_order_relaxed);
    size_t moved = 0;
    while (tail != head) {
        uint8_t sizeBytes[2];
        CopyOut(tail, sizeBytes, 2);
        const size_t size = sizeBytes[0] | (static_cast<size_t>(sizeBytes[1]) << 8);
        if (size > room - moved) break;
        CopyOut(tail, out + moved, size);
        moved += size;
        tail += size;
    }
    tail_.store(tail, std::memory_order_release);
    return moved;
}

}  // namespace qtrace
