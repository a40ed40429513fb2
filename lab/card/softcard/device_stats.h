// What each device did, for the status file and the host program's summary:
// its requests by card status, the latency of its answers and its last error.
// Kept under a lock of its own and held only briefly, so that whoever reads
// them never waits for a device.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

#include "lab/card/softcard/platform.h"

namespace softcard {

class DeviceStats {
public:
    // The answers whose latency makes the median and the 99th percentile.
    static constexpr int32_t kLatencySamples = 256;

    // One Modbus request that the device answered (with data or an
    // exception), in microseconds.
    void Answered(int64_t microseconds);
    // One request of the card (a cyclic function's poll, or a routine that
    // the driver called) and its status; failure says why when it is not 0.
    void Finished(bool poll, int16_t status, const std::string& failure);

    struct Snapshot {
        int64_t polls = 0;
        int64_t requests = 0;                 // on demand
        std::map<int16_t, int64_t> byStatus;  // of both
        int32_t samples = 0;
        double medianMs = 0;
        double p99Ms = 0;
        std::string lastError;  // empty when none
        std::time_t lastErrorAt = 0;
    };
    Snapshot Take() const;

private:
    mutable Lock lock_;
    int64_t polls_ = 0;
    int64_t requests_ = 0;
    std::map<int16_t, int64_t> byStatus_;
    uint32_t latencies_[kLatencySamples] = {};
    int64_t answers_ = 0;
    std::string lastError_;
    std::time_t lastErrorAt_ = 0;
};

}  // namespace softcard
