#include "lab/card/softcard/device_stats.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace softcard {

void DeviceStats::Answered(int64_t microseconds) {
    const uint32_t most = std::numeric_limits<uint32_t>::max();
    const uint32_t sample =
        microseconds < 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(microseconds, most));
    std::lock_guard<Lock> guard(lock_);
    latencies_[answers_ % kLatencySamples] = sample;
    ++answers_;
}

void DeviceStats::Finished(bool poll, int16_t status, const std::string& failure) {
    std::lock_guard<Lock> guard(lock_);
    ++(poll ? polls_ : requests_);
    ++byStatus_[status];
    if (status == 0) return;
    lastError_ = failure;
    lastErrorAt_ = std::time(nullptr);
}

DeviceStats::Snapshot DeviceStats::Take() const {
    Snapshot snapshot;
    std::vector<uint32_t> samples;
    {
        std::lock_guard<Lock> guard(lock_);
        snapshot.polls = polls_;
        snapshot.requests = requests_;
        snapshot.byStatus = byStatus_;
        snapshot.lastError = lastError_;
        snapshot.lastErrorAt = lastErrorAt_;
        const int64_t n = std::min<int64_t>(answers_, kLatencySamples);
        samples.assign(latencies_, latencies_ + n);
    }
    snapshot.samples = static_cast<int32_t>(samples.size());
    if (samples.empty()) return snapshot;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    // The smallest sample that at least 50 % (99 %) of the samples do not exceed.
    snapshot.medianMs = samples[(n + 1) / 2 - 1] / 1000.0;
    snapshot.p99Ms = samples[(99 * n + 99) / 100 - 1] / 1000.0;
    return snapshot;
}

}  // namespace softcard
