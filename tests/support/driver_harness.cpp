#include "tests/support/driver_harness.h"

#include <algorithm>
#include <ostream>

#include "driver/entry/qun_info.h"
#include "lab/card/simulated/applicom_control.h"
#include "lab/korvex/korvex_control.h"
#include "tests/support/module_loader.h"

namespace qun_test {

namespace {

QunMainFunction LoadQunMain() {
    static QunMainFunction function = LoadDriverEntry();
    return function;
}

}  // namespace

int32_t CallQunMain(QunRequest* request) {
    QunMainFunction function = LoadQunMain();
    if (function == nullptr) {
        ADD_FAILURE() << "MORDALIX.DLL or its QunMain could not be loaded";
        return -1;
    }
    return function(request);
}

void* DriverModule() {
    LoadQunMain();
    return LoadedDriverModule();
}

void PrintTo(const LogLine& line, std::ostream* out) {
    *out << "[" << line.level << "] \"" << line.text << "\"";
}

std::vector<LogLine> LogFrom(int32_t from) {
    std::vector<LogLine> lines;
    const int32_t count = KvxLogCount();
    for (int32_t i = from < 0 ? 0 : from; i < count; ++i) {
        int32_t level = 0;
        const int32_t length = KvxLogLine(i, &level, nullptr, 0);
        if (length < 0) break;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        KvxLogLine(i, &level, &text[0], length + 1);
        text.resize(length);
        lines.push_back({level, text});
    }
    return lines;
}

std::vector<LogLine> Log() { return LogFrom(0); }

std::vector<std::string> LogTexts() {
    std::vector<std::string> texts;
    for (const LogLine& line : Log()) texts.push_back(line.text);
    return texts;
}

int CountLog(const std::string& text) {
    int n = 0;
    for (const LogLine& line : Log())
        if (line.text == text) ++n;
    return n;
}

bool HasLog(int32_t level, const std::string& text) {
    for (const LogLine& line : Log())
        if (line.level == level && line.text == text) return true;
    return false;
}

void DriverTest::SetUp() {
    ASSERT_NE(LoadQunMain(), nullptr) << "the driver module could not be loaded";
    // The block has exactly the size the driver reports, as the host allocates
    // it, and guard bytes after it catch a driver writing past its end.
    QunInfo info{};
    QunRequest ask{};
    ask.functionCode = 14;
    ask.parameters = &info;
    ASSERT_EQ(CallQunMain(&ask), 0);
    ASSERT_EQ(info.stateSize, sizeof(DriverState));
    KvxReset();
    ApcReset();
    stateBytes_.assign(info.stateSize + kStateGuardBytes, kStateGuardByte);
    std::fill(stateBytes_.begin(), stateBytes_.end() - kStateGuardBytes, 0xA5);
    request_ = QunRequest{};
    request_.state = &state();
    request_.instance = instance_;
}

void DriverTest::TearDown() {
    for (size_t i = stateBytes_.size() - kStateGuardBytes; i < stateBytes_.size(); ++i)
        ASSERT_EQ(stateBytes_[i], kStateGuardByte)
            << "the driver wrote past its state block, at byte " << i;
}

int32_t DriverTest::Call(uint32_t functionCode, void* parameters) {
    request_.state = &state();
    request_.functionCode = functionCode;
    request_.instance = instance_;
    request_.parameters = parameters;
    return CallQunMain(&request_);
}

}  // namespace qun_test
