// Card traffic recorded and replayed end to end: the example plant run
// through the tap in front of the simulated card, then replayed from its
// trace by the simulated card, gives the same values and summary; replayed
// with a driver that asks one card argument otherwise, the run is reported to
// depart from the recording at that call; replayed from a forged trace whose
// calls deliver more than the driver's buffers hold, it departs there too,
// and nothing is copied.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "lab/qunhost/platform/system.h"
#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_reader.h"
#include "tests/lab/qunhost/plant_trace.h"
#include "tests/lab/qunhost/platform/child_process.h"

namespace {

using qunhost_test::DriverFolder;
using qunhost_test::ExamplePlant;
using qunhost_test::Outcome;
using qunhost_test::RunQunhost;

std::string Bin() { return qunhost::sys::ProgramFolder(); }

// The lines of the tables of values and of the summary: what the run read
// and wrote. Time stamps and the driver's log are left out.
std::vector<std::string> Results(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    bool summary = false;
    for (std::string line; std::getline(in, line);) {
        if (line == "summary") summary = true;
        // "  Tank.Levels  ...": a gate's row (time stamps past 10 s also
        // begin with two blanks, but a digit follows).
        const bool gateRow = line.size() > 2 && line.compare(0, 2, "  ") == 0 &&
                             std::isalpha(static_cast<unsigned char>(line[2])) &&
                             line.find('.') != std::string::npos &&
                             line.compare(0, 8, "  values") != 0;
        if (summary || gateRow) lines.push_back(line);
    }
    return lines;
}

TEST(Replay, TheExamplePlantRecordedThroughTheTapReplaysAlikeAndAPlantedChangeIsFound) {
    const std::string sim = Bin() + qunhost::sys::kCardLibraryName;
    const qunhost_test::PlantRecording& recording = qunhost_test::RecordedExamplePlant();
    const std::string& trace = recording.trace;
    const Outcome& recorded = recording.run;
    ASSERT_EQ(0, recorded.exitCode) << recorded.output;
    EXPECT_NE(std::string::npos, recorded.output.find("card library: the simulated card\n"))
        << "the host finds the simulated card's controls behind the tap\n"
        << recorded.output;

    qtrace::Trace read;
    std::string error;
    ASSERT_TRUE(qtrace::ReadTrace(trace, &read, &error)) << error;
    EXPECT_TRUE(read.damaged.empty());
    size_t calls = 0, firstWriteword = 0;
    for (const qtrace::TraceRecord& record : read.records) {
        if (record.kind != qtrace::kCallRecord) continue;
        ++calls;
        if (firstWriteword == 0 &&
            qtrace::kCardRoutines[record.routine].name == std::string("writeword"))
            firstWriteword = calls;
    }
    ASSERT_GT(calls, 4000u);
    ASSERT_NE(0u, firstWriteword);

    // The same scenario, the simulated card answering from the trace.
    const Outcome replayed =
        RunQunhost({"--plain", "--table-every", "0s", "--replay", trace, ExamplePlant()});
    EXPECT_EQ(0, replayed.exitCode) << replayed.output;
    EXPECT_NE(std::string::npos,
              replayed.output.find("replay: the run reproduced the recording: all " +
                                   std::to_string(calls) + " calls answered as recorded\n"))
        << replayed.output;
    const std::vector<std::string> expected = Results(recorded.output);
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(expected, Results(replayed.output));

    // A driver whose writeword asks for the next element.
    const std::string planted =
        DriverFolder("planted", Bin() + "planted/" + qunhost::sys::kDriverFileName, sim);
    const Outcome departed =
        RunQunhost({"--plain", "--replay", trace, "--driver", planted, ExamplePlant()});
    EXPECT_EQ(1, departed.exitCode) << departed.output;
    const std::string at = "replay: the run departed from the recording at call " +
                           std::to_string(firstWriteword) + " of " + std::to_string(calls) + " (";
    EXPECT_NE(std::string::npos, departed.output.find(at)) << at << "\n" << departed.output;
    EXPECT_NE(std::string::npos,
              departed.output.find("replay:   recorded: writeword(channel 0, equipment 1, count "
                                   "1, address 5) with 2 bytes of data\n"
                                   "replay:   asked:    writeword(channel 0, equipment 1, count "
                                   "1, address 6) with 2 bytes of data\n"))
        << departed.output;

    // The trace forged: each AppGetCycParam call delivering 1024 bytes of
    // 0x41 into the driver's 256-byte record, its checksum made good.
    const std::string forged = qunhost::sys::CurrentFolder() + "/forged.qtr";
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(&read.header),
                               reinterpret_cast<const uint8_t*>(&read.header + 1));
    for (qtrace::TraceRecord record : read.records) {
        if (record.kind == qtrace::kCallRecord &&
            record.routine == qtrace::routine::AppGetCycParam && record.status == 0)
            record.out.assign(1024, 0x41);
        const std::vector<uint8_t> encoded = qtrace::EncodeRecord(record);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    if (std::FILE* file = std::fopen(forged.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    const Outcome refused = RunQunhost({"--plain", "--replay", forged, ExamplePlant()});
    EXPECT_EQ(1, refused.exitCode) << refused.output;
    EXPECT_NE(std::string::npos, refused.output.find("replay:   recorded: AppGetCycParam("))
        << refused.output;
    EXPECT_NE(std::string::npos,
              refused.output.find(" delivering 1024 bytes, more than it can (256)\n"))
        << refused.output;
}

}  // namespace
