#include "trace/trace_ring.h"

#include <cstring>

namespace qtrace {

namespace {

size_t PowerOfTwoAtLeast(size_t size) {
    size_t power = 4096;
    while (power < size && power < (size_t{1} << 30)) power <<= 1;
    return power;
}

void PutSize(uint8_t* at, uint32_t size) { std::memcpy(at, &size, 4); }
uint32_t GetSize(const uint8_t* at) {
    uint32_t size;
    std::memcpy(&size, at, 4);
    return size;
}

}  // namespace

TraceRing::TraceRing(size_t capacity)
    : buffer_(PowerOfTwoAtLeast(capacity)), mask_(buffer_.size() - 1) {}

uint8_t* TraceRing::BeginPush(size_t size) {
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
        PutSize(&buffer_[start], static_cast<uint32_t>(filler) | kFiller);
        head += static_cast<uint32_t>(filler);
    }
    uint8_t* at = &buffer_[static_cast<size_t>(head) & mask_];
    PutSize(at, static_cast<uint32_t>(entry));
    pending_ = head + static_cast<uint32_t>(entry);
    return at + 4;
}

void TraceRing::EndPush() {
    head_.store(pending_, std::memory_order_release);
    pushing_.clear(std::memory_order_release);
}

size_t TraceRing::Take(uint8_t* out, size_t room) {
    const uint32_t head = head_.load(std::memory_order_acquire);
    uint32_t tail = tail_.load(std::memory_order_relaxed);
    size_t moved = 0;
    while (tail != head) {
        const uint8_t* at = &buffer_[static_cast<size_t>(tail) & mask_];
        const uint32_t entry = GetSize(at);
        if ((entry & kFiller) == 0) {
            const size_t size = at[4] | (static_cast<size_t>(at[5]) << 8);
            if (size > room - moved) break;
            std::memcpy(out + moved, at + 4, size);
            moved += size;
        }
        tail += entry & ~kFiller;
    }
    tail_.store(tail, std::memory_order_release);
    return moved;
}

}  // namespace qtrace
