// The recorder's settings file, cardtap.ini, with arbitrary contents: every
// number ends within its limits, whatever the file says.
#include <string>

#include "recorder/tap/settings.h"

namespace {

bool Within(uint64_t value, const tap::Limit& limit) {
    return value >= limit.least && value <= limit.most;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string problems;
    const tap::Settings settings = tap::ReadSettings(
        std::string(reinterpret_cast<const char*>(data), size), "C:\\plant\\", &problems);
    if (!Within(settings.fileLimitMb, tap::kFileLimitMb) ||
        !Within(static_cast<uint64_t>(settings.files), tap::kFiles) ||
        !Within(settings.ringKb, tap::kRingKb))
        __builtin_trap();
    return 0;
}
