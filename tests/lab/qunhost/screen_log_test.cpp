// Text fitting of the live table, and how the driver's log lines are told
// apart and shown.
#include <gtest/gtest.h>

#include "lab/qunhost/host_log.h"
#include "lab/qunhost/screen.h"

namespace qunhost {
namespace {

TEST(Screen, FitsUtf8TextToColumns) {
    struct Case {
        const char* text;
        int columns;
        const char* fitted;
    };
    const Case cases[] = {
        {"abcdef", 3, "abc"},
        {"abc", 3, "abc"},
        {"abc", 10, "abc"},
        {"", 2, ""},
        {"\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97", 2, "\xE2\x95\x94\xE2\x95\x90"},  // box corners
        {"a\xC3\xA9z", 2, "a\xC3\xA9"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.fitted, FitColumns(c.text, c.columns)) << c.text;
    EXPECT_EQ(3, TextColumns("\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97"));
}

TEST(HostLog, SupervisorLinesAndLevels) {
    struct Case {
        const char* text;
        bool supervisor;
    };
    const Case cases[] = {
        {"RIREVI Thread: Connected to Korvex", true},
        {"VUROR: Stopping 3 cyclic functions", true},
        {"RIREVI: StopCyclicFunctions() Successful! Cycle chan0 cyclfunc1, stat 0", true},
        {"RIREVI: StartCyclicFunctions() error on Chan.0 Func.1, stat 3", true},
        {"RIREVI: Parse() ill. memtype '0_1_XX_5'", false},
        {"RIREVI: BlockParse() calling WAIT function in stead", false},
        {"RIREVI Threads", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.supervisor, IsSupervisorLine(c.text)) << c.text;
    EXPECT_EQ("[32] RIREVI: Set clear Cyclic to ON",
              FormatLogEntry({32, "RIREVI: Set clear Cyclic to ON"}));
    EXPECT_EQ("[ 8] RIREVI: Timeout is 500", FormatLogEntry({8, "RIREVI: Timeout is 500"}));
}

}  // namespace
}  // namespace qunhost
