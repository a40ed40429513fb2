#include <chrono>
#include <thread>

#include "tests/lab/qunhost/platform/child_process.h"

namespace qunhost_test {

bool ChildProcess::WaitForOutput(const std::string& text, int timeoutMs) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

Outcome RunQunhost(const std::vector<std::string>& arguments, int timeoutMs) {
    Outcome outcome;
    ChildProcess child(QunhostPath(), arguments);
    if (!child.started()) {
        outcome.output = "the host program could not be started";
        return outcome;
    }
    outcome.exitCode = child.Wait(timeoutMs);
    outcome.output = child.Output();
    return outcome;
}

}  // namespace qunhost_test
