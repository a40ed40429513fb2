// The native host program on a terminal and under Ctrl+C: the live table is
// redrawn in place with ANSI escape sequences, and an interrupt ends the time
// line early with the same shut-down, end and summary as a full run.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/lab/qunhost/platform/child_process.h"

namespace {

using qunhost_test::ChildProcess;
using qunhost_test::QunhostPath;

// A gate of each kind on the simulated card, read for a while.
void WriteScenario(const char* name, const char* readStep) {
    std::ofstream(name, std::ios::binary) << "instance 9\n"
                                             "timeout 10ms\n"
                                             "block  Levels 0_1_W_0_S100 u16 4\n"
                                             "single Level  0_1_W_10     u16\n"
                                             "single Bit    0_1_PB_3     digital\n"
                                          << readStep << "\n";
}

// What a terminal shows after the output: lines with a cursor that moves by
// line feeds, carriage returns, "cursor up" (ESC [ n A) and "erase to the
// end of the screen" (ESC [ J). Any other escape sequence fails the test.
std::vector<std::string> Screen(const std::string& output) {
    std::vector<std::string> lines(1);
    size_t row = 0;
    for (size_t i = 0; i < output.size(); ++i) {
        const char c = output[i];
        if (c == '\x1b') {
            size_t end = i + 2;
            while (end < output.size() && isdigit(static_cast<unsigned char>(output[end]))) ++end;
            const std::string digits = output.substr(i + 2, end - i - 2);
            if (output[i + 1] == '[' && end < output.size() && output[end] == 'A') {
                const size_t up = digits.empty() ? 1 : std::stoul(digits);
                row = up > row ? 0 : row - up;
            } else if (output[i + 1] == '[' && end < output.size() && output[end] == 'J') {
                lines[row].clear();
                lines.resize(row + 1);
            } else {
                ADD_FAILURE() << "unexpected escape sequence at " << i;
            }
            i = end;
        } else if (c == '\n') {
            ++row;
            if (row == lines.size()) lines.emplace_back();
        } else if (c == '\r') {
            // The terminal's own line end (its output mode turns \n into \r\n);
            // the column is not modelled, lines are only ever rewritten whole.
        } else {
            lines[row] += c;
        }
    }
    return lines;
}

int Count(const std::vector<std::string>& lines, const std::string& start) {
    int n = 0;
    for (const std::string& line : lines) n += line.compare(0, start.size(), start) == 0;
    return n;
}

TEST(NativeHost, LiveTableIsRedrawnInPlaceOnATerminal) {
    WriteScenario("terminal.scn", "read every 100ms for 1500ms");
    ChildProcess child(QunhostPath(), {"terminal.scn"}, /*terminal=*/true);
    ASSERT_TRUE(child.started());
    EXPECT_EQ(0, child.Wait(60000)) << child.Output();
    const std::string output = child.Output();
    // The banner's frame arrives as UTF-8.
    EXPECT_NE(output.find("\xE2\x95\x94\xE2\x95\x90"), std::string::npos) << output;
    EXPECT_NE(output.find("\x1b[J"), std::string::npos) << "the table was never redrawn";

    // Fifteen rounds of reads, yet the screen holds one table: every redraw
    // erased exactly the lines of the one before.
    const std::vector<std::string> screen = Screen(output);
    EXPECT_EQ(1, Count(screen, "  values at ")) << output;
    EXPECT_EQ(1, Count(screen, "  Levels  0_1_W_0_S100 x4 ")) << output;
    EXPECT_EQ(1, Count(screen, "result: OK")) << output;
    // The scrolling lines above the table are all still there.
    EXPECT_EQ(1, Count(screen, "summary")) << output;
}

TEST(NativeHost, PlainOutputOnATerminalHasNoEscapeSequences) {
    WriteScenario("plain.scn", "read every 100ms for 300ms");
    ChildProcess child(QunhostPath(), {"--plain", "plain.scn"}, /*terminal=*/true);
    EXPECT_EQ(0, child.Wait(60000)) << child.Output();
    EXPECT_EQ(child.Output().find('\x1b'), std::string::npos) << child.Output();
}

TEST(NativeHost, CtrlCEndsTheTimeLineWithShutdownEndAndSummary) {
    WriteScenario("long.scn", "read every 100ms for 120s");
    ChildProcess child(QunhostPath(), {"--plain", "long.scn"});
    ASSERT_TRUE(child.WaitForOutput("values at", 30000)) << child.Output();
    child.Interrupt();
    EXPECT_EQ(1, child.Wait(20000)) << child.Output();
    const std::string output = child.Output();
    const char* const expected[] = {
        "shut-down message sent; the supervisor thread ended after ",
        "end (EndQun) -> 0\n",
        "  interrupted before the end of the time line\n",
        "\nsummary\n",
    };
    for (const char* text : expected)
        EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
}

}  // namespace
