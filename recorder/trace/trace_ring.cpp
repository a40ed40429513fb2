#include "recorder/trace/trace_ring.h"

#include <cstring>

namespace qtrace {

namespace {

size_t PowerOfTwoAtLeast(size_t size) {
    size_t power = 4096;
    while (power < size && power < (size_t{1} << 30)) power <<= 1;
    return power;
}

uint32_t GetSize(const uint8_t* at) {
    uint32_t size;
    std::memcpy(&size, at, 4);
    return size;
}

}  // namespace

TraceRing::TraceRing(size_t capacity, size_t lossBytes)
    : buffer_(PowerOfTwoAtLeast(capacity)), mask_(buffer_.size() - 1), lossBytes_(lossBytes) {}

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

bool TraceRing::TakeLoss(Loss* loss) {
    Lock();
    // Only with every published record taken: the loss came after them all.
    const bool found = loss_.records != 0 && head_.load(std::memory_order_relaxed) ==
                                                 tail_.load(std::memory_order_relaxed);
    if (found) {
        *loss = loss_;
        loss_ = Loss();
    }
    Unlock();
    return found;
}

}  // namespace qtrace
