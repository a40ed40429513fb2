// The host program end to end: the example plant on the simulated card, check
// mode, and the messages and exit status of bad input. The program runs as a
// child process with its output in a pipe, as a CI log would see it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/entry/driver_state.h"
#include "lab/qunhost/browse_command.h"
#include "tests/lab/qunhost/platform/child_process.h"

namespace {

using qunhost_test::Outcome;
using qunhost_test::RunQunhost;

std::string ExamplePath(const char* name) {
    return std::string(QUNHOST_SOURCE_DIR) + "/examples/plant/" + name;
}

bool Has(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

std::vector<std::string> LinesStartingWith(const std::string& output, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    return lines;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(Qunhost, ExamplePlantRunsToItsSummary) {
    const Outcome run = RunQunhost({"--plain", "--table-every", "0s", ExamplePath("plant.scn")});
    const std::string& out = run.output;
    EXPECT_EQ(0, run.exitCode) << out;
    // The closing summary.
    EXPECT_TRUE(
        Has(out, "\n  gates       20 declared: 20 accepted (8 block, 12 single), 0 refused\n"))
        << out;
    EXPECT_TRUE(Has(out,
                    "\n  cyclic      6 functions created (registry 6 of 32 places): channel 0: 1 2 "
                    "3; channel 1: 1; channel 4: 1 2\n"))
        << out;
    // Four read steps of 16, 8, 8 and 8 rounds over 20 gates.
    EXPECT_TRUE(Has(out, "\n  reads       800: 800 ok\n")) << out;
    EXPECT_TRUE(Has(out, "\n  writes      3: 3 ok\n")) << out;
    EXPECT_TRUE(Has(out, "\n  errors      none\n")) << out;
    EXPECT_TRUE(Has(out, "\nresult: OK\n")) << out;

    // One table per read step. The set point is written in the second step,
    // and the block that covers it shows it at once (its sixth element).
    const std::vector<std::string> setPoint = LinesStartingWith(out, "  Tank.SetPoint ");
    const std::vector<std::string> levels = LinesStartingWith(out, "  Tank.Levels ");
    // The gate table after parsing, then the four tables of values.
    ASSERT_EQ(5u, setPoint.size()) << out;
    ASSERT_EQ(5u, levels.size()) << out;
    EXPECT_TRUE(EndsWith(setPoint[1], " 520")) << setPoint[1];
    EXPECT_TRUE(EndsWith(setPoint[2], " 750")) << setPoint[2];
    EXPECT_TRUE(EndsWith(levels[1], " 480 520 0 0")) << levels[1];
    EXPECT_TRUE(EndsWith(levels[2], " 480 750 0 0")) << levels[2];
    // The special digital gate written to 1 reads back 1; its neighbour bit stays.
    const std::vector<std::string> remote = LinesStartingWith(out, "  Pump1.Remote ");
    ASSERT_EQ(5u, remote.size());
    EXPECT_TRUE(EndsWith(remote[1], " 0")) << remote[1];
    EXPECT_TRUE(EndsWith(remote[2], " 1")) << remote[2];
    const std::vector<std::string> ready = LinesStartingWith(out, "  Pump1.Ready ");
    EXPECT_TRUE(EndsWith(ready.back(), " 1")) << ready.back();

    // The backup switch stops the cyclic functions and restarts them.
    EXPECT_TRUE(Has(out,
                    "[32] RIREVI Thread: Station mode changed! Master station is active "
                    "Stopping Cyclic Requests\n"))
        << out;
    EXPECT_TRUE(Has(out,
                    "[32] RIREVI Thread: Station mode changed! Backup Station is active "
                    "Restarting Backup Cyclic Requests\n"))
        << out;
    EXPECT_NE(std::string::npos, levels[1].find("#1 running"));
    EXPECT_NE(std::string::npos, levels[3].find("#1 stopped")) << levels[3];
    EXPECT_NE(std::string::npos, levels[4].find("#1 running")) << levels[4];
    EXPECT_TRUE(Has(out, "[32] RIREVI Thread: Kor shutdown message recieved\n"));
    EXPECT_TRUE(Has(out, "end (EndQun) -> 0\n"));
}

TEST(Qunhost, CheckModeReportsThePlan) {
    const Outcome run = RunQunhost({"--check", ExamplePath("plant.scn")});
    const std::string& out = run.output;
    EXPECT_EQ(0, run.exitCode) << out;
    const char* const expected[] = {
        "initialisation file qunDOZ01.INT in ",
        "settings after the cold start: card open, 2 read attempts, clearing on, first cyclic "
        "number 0, balance free on, timeout 100 ms\n",
        "refused gates: none\n",
        "  bits      16 used (0..15)               31983 left\n",
        "  words     20 used (0..19)               31977 left",
        "  bytes      4 used (13996..13999)        13995 left",
        "cyclic functions: 6 in the registry, of 32 places\n",
        "  channel 0: 1 (Tank.Levels) 2 (Tank.Alarms) 3 (Pump.Speeds); numbers given up to 3, 252 "
        "left\n",
        "  block gates read on demand (no cyclic function): Boiler.Timers, Recipe\n",
        "station table: 5 of 256 slots taken, 251 free\n",
        "  slot  10  channel  4  equipment   3  Rack.Inputs, Rack.Bytes, Rack.Pulses, Rack.Byte3\n",
        "check: OK\n",
    };
    for (const char* text : expected) EXPECT_TRUE(Has(out, text)) << text << "\n" << out;
    // Check mode reads nothing and writes nothing.
    EXPECT_FALSE(Has(out, "values at")) << out;
    EXPECT_FALSE(Has(out, "summary")) << out;
}

TEST(Qunhost, CheckModeNamesEachRefusedGateWithTheDriversReason) {
    const Outcome run = RunQunhost({"--check", ExamplePath("mistakes.scn")});
    const std::string& out = run.output;
    EXPECT_EQ(1, run.exitCode) << out;
    const char* const expected[] = {
        "initialisation file qunDOZ02.INT not found in ",
        "refused gates: 11\n",
        "  Levels.NoRate (line 11, 0_1_W_0)\n    RIREVI: BlockParse() sample rate field missing "
        "'0_1_W_0'\n",
        "  Levels.FastRate (line 12, 0_1_W_0_S50)\n    RIREVI: BlockParse() illegal sample rate "
        "'0_1_W_0_S50'\n",
        "  Recipe.TooLong (line 14, 1_0_MW_0_S1000)\n    (the driver logged no reason: an internal "
        "MW block holds at most 128 elements)\n",
        "  Tank.Type (line 18, 0_1_W_1)\n    RIREVI: SingleParse() gate '0_1_W_1' should be 16 "
        "BIT\n",
        "  Recipe.Card0 (line 21, 0_0_MW_100)\n    (the driver logged no reason: internal memory "
        "takes a card number 1 to 8 in the channel's place)\n",
        "  Boiler.Odd (line 22, 1_5_DW_10_/4)\n    RIREVI: Parse() addr. must be multiple of "
        "byteness, '1_5_DW_10_/4'\n",
        "cyclic functions: 1 in the registry, of 32 places\n",
        "check: 11 problems\n",
    };
    for (const char* text : expected) EXPECT_TRUE(Has(out, text)) << text << "\n" << out;
}

TEST(Qunhost, FailedRequestsAndHostErrorsAreCountedAndExitWithOne) {
    // No initialisation file for instance 7 here: three read attempts.
    std::ofstream("faults.scn", std::ios::binary) << "instance 7\n"
                                                     "timeout 10ms\n"
                                                     "block  Bits  0_1_PB_0_S100 digital 4\n"
                                                     "single Word  0_1_W_10      u16\n"
                                                     "single Input 0_1_IW_0      u16\n"
                                                     "wait 300ms\n"
                                                     "fail readword 2 2 2\n"
                                                     "read once\n"
                                                     "read once\n"
                                                     "write Input 5\n"
                                                     "write Bits 1 0 2 1\n";
    const Outcome run = RunQunhost({"--plain", "-q", "--log", "faults.log", "faults.scn"});
    const std::string& out = run.output;
    EXPECT_EQ(1, run.exitCode) << out;
    const char* const expected[] = {
        "\n  gates       3 declared: 3 accepted (1 block, 2 single), 0 refused\n",
        // The scripted statuses fail all three attempts of the first read.
        "\n  reads       6: 5 ok, 1 result 1\n",
        // An input word cannot be written; the driver says so with result 1.
        "\n  writes      1: 1 result 1\n",
        "\n  errors      1\n    faults.scn:11: write Bits: element 3: value 2 is out of range for "
        "bit elements (0 to 1)\n",
        "\nresult: 3 problems\n",
        "shutdown (the scenario does not send it: sent now)\n",
        "end (the scenario does not end the driver: ended now)\n",
    };
    for (const char* text : expected) EXPECT_TRUE(Has(out, text)) << text << "\n" << out;
    EXPECT_FALSE(Has(out, "] RIREVI")) << "-q shows no driver log\n" << out;

    // The log file has every line, traces included, with its level.
    std::ifstream file("faults.log");
    const std::string log((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(Has(log, "[ 8] RIREVI: SingleRead() entered. Tag 'Word'\n")) << log;
    EXPECT_TRUE(Has(log, "[ 8] RIREVI: Error detected; retry number 3 \n")) << log;
    EXPECT_TRUE(Has(log, "[32] RIREVI> PutData() illegal memtype 'Input'\n")) << log;
}

TEST(Qunhost, BadInputNamesFileAndLineAndExitsWithTwo) {
    struct Case {
        const char* file;  // written to the test's folder; null: none
        const char* contents;
        std::vector<std::string> arguments;  // after the file name, or instead of it
        std::string message;
    };
    std::vector<Case> cases = {
        {nullptr,
         nullptr,
         {"missing.scn"},
         "qunhost: cannot open the scenario file missing.scn: No such file or directory\n"},
        {"type.scn",
         "instance 1\n\nsingle Level 0_1_W_0 int17\n",
         {},
         "qunhost: type.scn:3: unknown gate type 'int17' (u16, s8, s16, float, u32, s32, "
         "digital, or a code 0 to 6)\n"},
        {"statement.scn",
         "single Level 0_1_W_0 u16\nred every 1s for 2s\n",
         {},
         "qunhost: statement.scn:2: unknown statement 'red'\n"},
        {"driver.scn",
         "single Level 0_1_W_0 u16\n",
         {"--driver", "nowhere\\MORDALIX.DLL"},
         "MORDALIX.DLL cannot be loaded: "},
        {nullptr, nullptr, {"--frobnicate"}, "qunhost: unknown option --frobnicate (see --help)\n"},
    };
    // A build without the Windows dialog says so instead of browsing.
    if (BrowseUnavailableReason() != nullptr)
        cases.push_back({nullptr,
                         nullptr,
                         {"--browse"},
                         std::string("qunhost: ") + BrowseUnavailableReason() + "\n"});
    for (const Case& c : cases) {
        std::vector<std::string> arguments;
        if (c.file != nullptr) {
            std::ofstream(c.file, std::ios::binary) << c.contents;
            arguments.push_back(c.file);
        }
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const Outcome run = RunQunhost(arguments);
        EXPECT_EQ(2, run.exitCode) << c.message << "\n" << run.output;
        EXPECT_TRUE(Has(run.output, c.message)) << c.message << "\n" << run.output;
    }
}

TEST(Qunhost, InformationRecordWithTheBanner) {
    const Outcome run = RunQunhost({"--info"});
    EXPECT_EQ(0, run.exitCode) << run.output;
    const std::string expected[] = {
        "\u2554",
        "\u2551  RIREVI :  Applicom multi-protocol         (32-bit driver) \u2551\n",
        "record code      82\n",
        "maker            \"Applicom \"\n",
        "state block      " + std::to_string(sizeof(DriverState)) + " bytes\n",
        "capabilities     0xC0023 (bits 0, 1, 5, 18, 19)\n",
        "bytes 22 to 27   left as the host put them\n",
    };
    for (const std::string& text : expected)
        EXPECT_TRUE(Has(run.output, text)) << text << run.output;
}

}  // namespace
