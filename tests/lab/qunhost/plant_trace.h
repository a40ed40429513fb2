// The example plant run through the recorder in front of the simulated card,
// once per test program: the trace that the replay and the report tests read.
#pragma once

#include <string>

#include "tests/lab/qunhost/platform/child_process.h"

namespace qunhost_test {

struct PlantRecording {
    std::string trace;  // the trace file
    Outcome run;        // what the host program printed while it was recorded
};

// Records on the first call; later calls return the same recording.
const PlantRecording& RecordedExamplePlant();

// A folder of its own with the given driver module and card library; the
// driver module's path in it.
std::string DriverFolder(const std::string& name, const std::string& driver,
                         const std::string& card);

std::string ExamplePlant();

}  // namespace qunhost_test
