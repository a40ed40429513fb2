// A stand-in for the "Tag Format" window in driver_tests: BrowseAddress's own
// logic (busy mark, host version, owner, buffer) runs against it, while the
// real window is exercised by dialog_tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qun_test {

struct FakeBrowseDialog {
    int32_t result = 1023;             // what the "dialog" ends with
    std::string composed;              // copied out when result is 1022 (up to 31 characters)
    std::function<void()> while_open;  // runs while the "dialog" is shown
    // What the last call was given.
    int calls = 0;
    uint32_t owner = 0xDEADBEEF;
};

// The fake's script; reset for every test.
FakeBrowseDialog& FakeDialog();

}  // namespace qun_test
