#include "tests/host/platform/child_process.h"

namespace qunhost_test {

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
