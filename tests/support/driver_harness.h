// Test harness: the real MORDALIX.DLL loaded as the host loads it, a state
// block owned by the test like the host owns it, and the host log read back
// from the stand-in host runtime.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "driver/entry/driver_state.h"
#include "driver/entry/request.h"
#include "lab/card/simulated/applicom_control.h"
#include "lab/korvex/korvex_control.h"

namespace qun_test {

// QunMain of MORDALIX.DLL, loaded once per process from the program's folder.
int32_t CallQunMain(QunRequest* request);

// The module handle of MORDALIX.DLL (as a plain pointer).
void* DriverModule();

struct LogLine {
    int32_t level;
    std::string text;
    bool operator==(const LogLine& other) const {
        return level == other.level && text == other.text;
    }
};
void PrintTo(const LogLine& line, std::ostream* out);

// Every line in the host log since the last reset.
std::vector<LogLine> Log();
// Lines since index from.
std::vector<LogLine> LogFrom(int32_t from);
// Only the texts.
std::vector<std::string> LogTexts();
// How often a line with exactly this text was logged.
int CountLog(const std::string& text);
bool HasLog(int32_t level, const std::string& text);

// A base fixture: stand-ins reset, a state block filled with a pattern the
// driver must overwrite where it claims to, and a request built around it.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Calls QunMain of the DLL with the given function code and parameter block.
    int32_t Call(uint32_t functionCode, void* parameters);

    // The state block as the host allocates it (the size GetQunInfo reports,
    // any content), followed by guard bytes that TearDown checks.
    DriverState& state() { return *reinterpret_cast<DriverState*>(stateBytes_.data()); }

    QunRequest request_{};
    uint32_t instance_ = 1;

private:
    static constexpr size_t kStateGuardBytes = 32;
    static constexpr uint8_t kStateGuardByte = 0x3C;
    std::vector<uint8_t> stateBytes_;
};

}  // namespace qun_test
