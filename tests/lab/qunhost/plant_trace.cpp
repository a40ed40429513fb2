#include "tests/lab/qunhost/plant_trace.h"

#include <cstdio>
#include <filesystem>

#include "lab/qunhost/platform/system.h"
#include "tests/support/process.h"

namespace qunhost_test {

std::string DriverFolder(const std::string& name, const std::string& driver,
                         const std::string& card) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(qunhost::sys::CurrentFolder()) / name;
    fs::create_directories(folder);
    // Removed first: the MinGW runtime's copy_file does not overwrite.
    fs::remove(folder / qunhost::sys::kDriverFileName);
    fs::remove(folder / qunhost::sys::kCardLibraryName);
    fs::copy_file(driver, folder / qunhost::sys::kDriverFileName);
    fs::copy_file(card, folder / qunhost::sys::kCardLibraryName);
    return (folder / qunhost::sys::kDriverFileName).string();
}

std::string ExamplePlant() { return std::string(QUNHOST_SOURCE_DIR) + "/examples/plant/plant.scn"; }

const PlantRecording& RecordedExamplePlant() {
    static const PlantRecording recording = [] {
        const std::string bin = qunhost::sys::ProgramFolder();
        PlantRecording made;
        made.trace = qunhost::sys::CurrentFolder() + "/plant.qtr";
        std::remove(made.trace.c_str());
        const std::string tapped = DriverFolder("tapped", bin + qunhost::sys::kDriverFileName,
                                                bin + "tap/" + qunhost::sys::kCardLibraryName);
        // The recorder's settings, which the host program run next inherits.
        const std::string sim = bin + qunhost::sys::kCardLibraryName;
        qun_test::SetEnvironment("QUN_TAP_LIBRARY", sim.c_str());
        qun_test::SetEnvironment("QUN_TAP_TRACE", made.trace.c_str());
        made.run =
            RunQunhost({"--plain", "--table-every", "0s", "--driver", tapped, ExamplePlant()});
        return made;
    }();
    return recording;
}

}  // namespace qunhost_test
