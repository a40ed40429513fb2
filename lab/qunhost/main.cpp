// qunhost: loads MORDALIX.DLL (natively libMORDALIX.so) the way the Korvex
// host does, talks to it through QunMain only, and runs a scenario file
// against it.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/entry/qun_info.h"
#include "lab/qunhost/browse_command.h"
#include "lab/qunhost/card_control.h"
#include "lab/qunhost/cp437.h"
#include "lab/qunhost/driver.h"
#include "lab/qunhost/options.h"
#include "lab/qunhost/platform/system.h"
#include "lab/qunhost/runner.h"
#include "lab/qunhost/scenario.h"
#include "lab/qunhost/screen.h"
#include "lab/qunhost/trace_html.h"
#include "lab/qunhost/trace_report.h"
#include "recorder/trace/trace_reader.h"
#include "version_config.h"

namespace {

using namespace qunhost;

// Ctrl+C ends the time line early; the driver is still shut down and ended,
// and the summary printed. A second Ctrl+C ends the program at once.
std::atomic<bool> g_interrupted{false};

bool ReadWholeFile(const std::string& path, std::string* text, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open the scenario file " + path + ": " + std::strerror(errno);
        return false;
    }
    text->clear();
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text->append(chunk, n);
        if (text->size() > (16u << 20)) {
            std::fclose(file);
            *error = "the scenario file " + path + " is larger than 16 MB: not a scenario";
            return false;
        }
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = "cannot read the scenario file " + path;
        return false;
    }
    return true;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

void PrintInfo(Screen& screen, const Driver& driver, const QunInfo& info, bool full,
               bool hostBytesKept) {
    screen.Line(Cp437ToUtf8(info.banner != nullptr ? info.banner : ""));
    const std::string maker = info.makerName != nullptr ? info.makerName : "";
    if (!full) {
        screen.Line("driver " + driver.path() + ": record " + std::to_string(info.infoCode) +
                    ", maker \"" + maker + "\", state block " + std::to_string(info.stateSize) +
                    " bytes, capabilities " + Hex(info.capabilities));
        return;
    }
    screen.Line("driver           " + driver.path());
    screen.Line("record code      " + std::to_string(info.infoCode));
    screen.Line("maker            \"" + maker + "\"");
    screen.Line("state block      " + std::to_string(info.stateSize) + " bytes");
    screen.Line("value at 16      " + std::to_string(info.value16));
    screen.Line("value at 20      " + std::to_string(info.value20));
    std::string bits;
    for (int b = 0; b < 32; ++b)
        if (info.capabilities & (1u << b)) bits += (bits.empty() ? "" : ", ") + std::to_string(b);
    screen.Line("capabilities     " + Hex(info.capabilities) + " (bits " + bits + ")");
    screen.Line(std::string("bytes 22 to 27   ") +
                (hostBytesKept ? "left as the host put them" : "CHANGED by the driver"));
}

// qunhost --trace: the summary, and with --list every selected call, of
// each file; with --report the files as one timeline in a page instead of
// the summary.
int TraceCommand(const Options& options) {
    std::string error;
    if (!options.reportFile.empty()) {
        if (!WriteTraceReport(options.traceFiles, options.traceFilter, options.reportFile,
                              &error)) {
            PrintError(error);
            return 2;
        }
        std::printf("report %s written\n", options.reportFile.c_str());
        if (!options.traceList) return 0;
    }
    for (const std::string& path : options.traceFiles) {
        qtrace::Trace trace;
        if (!qtrace::ReadTrace(path, &trace, &error)) {
            PrintError(error);
            return 2;
        }
        std::vector<std::string> lines;
        if (options.reportFile.empty()) lines = TraceSummary(path, trace, options.traceFilter);
        if (options.traceList) {
            if (!lines.empty()) lines.push_back("");
            for (std::string& line : TraceListing(trace, options.traceFilter))
                lines.push_back(line);
        }
        if (&path != &options.traceFiles.front()) lines.insert(lines.begin(), "");
        for (const std::string& line : lines) {
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    sys::PrepareStreams();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!ParseOptions(arguments, &options, &error)) {
        PrintError(error);
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        // The release's version, which the driver module carries in its
        // version resource too.
        std::printf("qunhost %s\n", QUN_VERSION_TEXT);
        return 0;
    }
    if (!options.traceFile.empty()) return TraceCommand(options);
    if (options.browse && BrowseUnavailableReason() != nullptr) {
        PrintError(BrowseUnavailableReason());
        return 2;
    }
    Screen screen(options.plain);

    // Bad input is reported before anything is loaded.
    Scenario scenario;
    if (!options.scenario.empty()) {
        std::string text;
        if (!ReadWholeFile(options.scenario, &text, &error)) {
            PrintError(error);
            return 2;
        }
        ParseError parseError;
        if (!ParseScenario(text, options.scenario, &scenario, &parseError)) {
            PrintError(FormatParseError(options.scenario, parseError));
            return 2;
        }
    }

    Driver driver;
    if (!driver.Load(options.driverPath.empty() ? DefaultDriverPath() : options.driverPath,
                     &error)) {
        PrintError(error);
        return 2;
    }
    driver.set_instance(scenario.instance);
    QunInfo info{};
    std::memset(info.hostOwned22, 0x5A, sizeof info.hostOwned22);
    const int32_t infoResult = driver.GetInfo(&info);
    bool hostBytesKept = true;
    for (uint8_t b : info.hostOwned22) hostBytesKept = hostBytesKept && b == 0x5A;
    if (infoResult != 0) {
        PrintError("the driver " + driver.path() + " answered " + std::to_string(infoResult) +
                   " to GetQunInfo");
        return 2;
    }
    PrintInfo(screen, driver, info, options.info, hostBytesKept);

    if (options.browse) {
        std::fflush(stdout);
        return BrowseCommand(driver.entry());
    }
    if (options.scenario.empty()) return 0;

    if (!driver.AllocateState(info.stateSize, &error)) {
        PrintError(error);
        return 2;
    }
    if (driver.state() == nullptr)
        screen.Line("note: the state block is " + std::to_string(info.stateSize) +
                    " bytes, not the " + std::to_string(sizeof(DriverState)) +
                    " of the record this program knows: its fields are not shown");

    CardControl card;
    card.Resolve();
    if (card.complete())
        screen.Line("card library: the simulated card");
    else if (card.softcardStatusLine != nullptr)
        screen.Line(
            "card library: the software card (Modbus TCP devices): plant statements cannot run");
    else
        screen.Line("card library: APPLICOM.dll without the simulated card's controls (missing " +
                    card.MissingNames() + "): plant statements cannot run");
    screen.Line("scenario " + options.scenario + ": " + std::to_string(scenario.gates.size()) +
                " gates, " + std::to_string(scenario.timeline.size()) + " steps" +
                (options.check ? " (check only: cold start and parsing)" : ""));

    sys::CatchInterrupts(&g_interrupted);
    Runner runner(options, scenario, driver, card, screen, g_interrupted);
    return runner.Run();
}
