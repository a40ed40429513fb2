// The station initialisation file: compaction of its lines, the keys in their
// order of matching, the station checks with their line numbers, and the
// defaults without a file.
#include "driver/config/init_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/entry/driver_state.h"
#include "driver/platform/host.h"
#include "tests/support/driver_harness.h"

namespace qun_test {
namespace {

class InitFileTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        instance_ = 37;
        std::remove(FileName().c_str());
    }
    void TearDown() override {
        std::remove(FileName().c_str());
        DriverTest::TearDown();
    }

    std::string FileName() const {
        char name[32];
        std::snprintf(name, sizeof name, "qunDOZ%02u.INT", instance_);
        return name;
    }
    // Writes the file byte for byte (binary, so line ends stay as given) and
    // reads it as the cold start does.
    void Read(const std::string& content) {
        std::FILE* file = std::fopen(FileName().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
        ReadWithoutWriting();
    }
    void ReadWithoutWriting() {
        InitDriverState(&state());
        KvxLogClear();
        request_.state = &state();
        request_.instance = instance_;
        ReadIntFile(&request_);
    }
    std::string In() const { return " in '" + FileName() + "'"; }
    StationEntry Entry(int i) { return state().stations[i]; }
};

bool Same(StationEntry a, StationEntry b) {
    return a.channel == b.channel && a.equipment == b.equipment;
}

TEST_F(InitFileTest, WithoutAFileTheDefaultsStand) {
    state().retryCount = 77;
    state().balanceFree = 0;
    ReadWithoutWriting();
    EXPECT_EQ(Log(),
              (std::vector<LogLine>{
                  {kLogError, "RIREVI: ColdStart() Warning, no initfile found: defaults used"}}));
    EXPECT_EQ(state().retryCount, 3u);
    EXPECT_EQ(state().balanceFree, 1);
    EXPECT_EQ(state().clearCyclic, 1);
    EXPECT_EQ(state().firstCycNo, 0);
    for (int i = 0; i < kStationCount; ++i) EXPECT_TRUE(Same(Entry(i), {0xFF, 0xFF})) << i;
}

TEST_F(InitFileTest, StationLinesAreCheckedInOrderWithTheirLineNumbers) {
    Read(
        "STATION 005 = 01 012\n"  // 1
        "// comment counts as a line\n"
        "\n"                        // 3: empty, ignored
        "STATION 6 = 1 12\n"        // 4: compacts to STATION6=112
        "STATION 300 = 01 001\n"    // 5
        "STATION 001 = 40 001\n"    // 6
        "STATION 001 = 01 300\n"    // 7
        "STATION 999 = 99 999\n"    // 8: the first failed check only
        "station 255 = 31 255\n"    // 9
        "STATION-1=01001\n"         // 10: a negative number wraps
        "STATION 007 = 02 003\n"    // 11
        "STATION 007 = 03 004\n");  // 12: replaces line 11
    EXPECT_EQ(Log(),
              (std::vector<LogLine>{
                  {kLogError, "RIREVI: ReadIntFile() ill. station nr. 300 line 5" + In()},
                  {kLogError, "RIREVI: ReadIntFile() ill. channel nr. 40 line 6" + In()},
                  {kLogError, "RIREVI: ReadIntFile() ill. equipment nr. 300 line 7" + In()},
                  {kLogError, "RIREVI: ReadIntFile() ill. station nr. 999 line 8" + In()},
                  {kLogError, "RIREVI: ReadIntFile() ill. station nr. 4294967295 line 10" + In()},
              }));
    EXPECT_TRUE(Same(Entry(5), {1, 12}));
    EXPECT_TRUE(Same(Entry(6), {11, 2}));
    EXPECT_TRUE(Same(Entry(255), {31, 255}));
    EXPECT_TRUE(Same(Entry(7), {3, 4}));
    EXPECT_TRUE(Same(Entry(1), {0xFF, 0xFF}));
    EXPECT_TRUE(Same(Entry(0), {0xFF, 0xFF}));
}

TEST_F(InitFileTest, RetryClearCycNoAndBalanceFreeLines) {
    Read(
        "retry = 5\n"
        "Clear Off\n"
        "CLEAR\n"
        "CYC_NO = 10\n"
        "BALANCE_FREE\n"
        "balance_free off\n");
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                              "RIREVI: ReadIntFile() Retry number is set to 5",
                              "RIREVI: Set clear Cyclic to OFF",
                              "RIREVI: Set clear Cyclic to ON",
                              "RIREVI: First CYC number set to 10",
                              "RIREVI: Balance Free mechanism is activated",
                              "RIREVI: Balance Free mechanism is deactivated",
                          }));
    for (const LogLine& line : Log()) EXPECT_EQ(line.level, kLogError) << line.text;
    EXPECT_EQ(state().retryCount, 5u);
    EXPECT_EQ(state().clearCyclic, 1);
    EXPECT_EQ(state().firstCycNo, 10);
    for (int c = 0; c < kCounterChannels; ++c) EXPECT_EQ(state().channelLastCyc[c], 10) << c;
    EXPECT_EQ(state().balanceFree, 0);
}

TEST_F(InitFileTest, CycNoKeepsItsLowEightBits) {
    const struct {
        const char* line;
        int firstCycNo;
    } cases[] = {
        {"CYC_NO = -1\n", 255},
        {"CYC_NO=300\n", 44},
        {"CYC_NO = 0\n", 0},
        {"CYC_NO = X\n", 0},
        {"CYC_NO\n", 0},
        {"XCYC_NO=7\n", 7},
        {"CYC_NO, = 5\n", 0},
        {"CYC_NO=12abc\n", 12},
        // After a comma blanks are kept: one before the "=" fails the scan,
        // one after it does not.
        {"A,CYC_NO = 10\n", 0},
        {"A,CYC_NO= 10\n", 10},
    };
    for (const auto& c : cases) {
        Read(c.line);
        EXPECT_EQ(state().firstCycNo, c.firstCycNo) << c.line;
        EXPECT_EQ(state().channelLastCyc[0], c.firstCycNo) << c.line;
        EXPECT_EQ(state().channelLastCyc[30], c.firstCycNo) << c.line;
        EXPECT_EQ(LogTexts(), (std::vector<std::string>{"RIREVI: First CYC number set to " +
                                                        std::to_string(c.firstCycNo)}))
            << c.line;
    }
    // A failed scan keeps the value of an earlier line.
    Read("CYC_NO=20\nCYC_NO=Y\n");
    EXPECT_EQ(state().firstCycNo, 20);
    EXPECT_EQ(CountLog("RIREVI: First CYC number set to 20"), 2);
}

TEST_F(InitFileTest, NumbersBeyondThirtyTwoBitsAreRefusedWithAMessage) {
    Read(
        "RETRY=4\n"
        "RETRY=99999999999\n"
        "CYC_NO=3\n"
        "CYC_NO=2147483648\n");
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                              "RIREVI: ReadIntFile() Retry number is set to 4",
                              "RIREVI: ReadIntFile() ill. retry number line 2" + In(),
                              "RIREVI: First CYC number set to 3",
                              "RIREVI: ReadIntFile() ill. CYC number line 4" + In(),
                              "RIREVI: First CYC number set to 3",
                          }));
    EXPECT_EQ(state().retryCount, 4u);
    EXPECT_EQ(state().firstCycNo, 3);
}

TEST_F(InitFileTest, MatchingOrderDecidesAmbiguousLines) {
    const struct {
        const char* line;
        const char* message;  // null: ignored
    } cases[] = {
        {"  // STATION 001 = 01 001\n", nullptr},  // a comment after blanks
        {"//CLEAR OFF\n", nullptr},
        {"STATIONCLEAR OFF\n", "RIREVI: Set clear Cyclic to OFF"},  // failed station line
        {"RETRY=XCLEAR\n", "RIREVI: Set clear Cyclic to ON"},       // failed retry line
        {"RETRY=0\n", "RIREVI: ReadIntFile() Retry number is set to 0"},
        {"RETRY=-1\n", "RIREVI: ReadIntFile() Retry number is set to -1"},
        {"RETRY5\n", nullptr},
        {"XRETRY=5\n", nullptr},
        {"CYC_NO=5 CLEAR\n", "RIREVI: Set clear Cyclic to ON"},
        {"BALANCE_FREE CLEAR\n", "RIREVI: Set clear Cyclic to ON"},
        {"OFF CLEAR\n", "RIREVI: Set clear Cyclic to ON"},     // OFF must follow the key
        {"CLEAR, O F F\n", "RIREVI: Set clear Cyclic to ON"},  // blanks kept after a comma
        {"CLEAR O F F\n", "RIREVI: Set clear Cyclic to OFF"},  // and dropped before one
        {"BALANCE_FREE=OFF\n", "RIREVI: Balance Free mechanism is deactivated"},
        {"BALANCEFREE OFF\n", nullptr},
        {"UNKNOWN=1\n", nullptr},
    };
    for (const auto& c : cases) {
        Read(c.line);
        const std::vector<std::string> expected =
            c.message == nullptr ? std::vector<std::string>{} : std::vector<std::string>{c.message};
        EXPECT_EQ(LogTexts(), expected) << c.line;
    }
}

TEST_F(InitFileTest, CompactionDropsControlAndHighBytes) {
    Read(std::string("R\tE\rT\x01R\xE9Y \x7F= 7\r\n") +  // 0x7F is kept: it is below 0x80
         "\x80\xFF"
         "CLEAR\tOFF\r\n" +
         std::string("STATION\0 002 = 03 004\n", 22));
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"RIREVI: Set clear Cyclic to OFF"}));
    EXPECT_EQ(state().retryCount, 3u);  // "RETRY\x7F=7" is no retry line
    EXPECT_TRUE(Same(Entry(2), {3, 4}));
    Read("RE\tTRY\xE9 = 7\r\n");
    EXPECT_EQ(state().retryCount, 7u);
}

#if defined(_WIN32)
// A Ctrl-Z byte ends a text file on Windows: nothing after it is read, not
// even the rest of its line, wherever it falls in the reads of the file.
TEST_F(InitFileTest, CtrlZEndsTheFileOnWindows) {
    const std::string z = "\x1A";
    const struct {
        std::string content;
        uint32_t retryCount;
    } cases[] = {
        {"RETRY=5\n" + z + "CLEAR OFF\n", 5},
        {"RETRY=5\nRETRY=42" + z + "7\n", 5},  // "RETRY=42" is a last line of 8 characters
        {"//" + std::string(600, 'x') + "\nRETRY=6\n" + z + "CLEAR OFF\n",
         6},  // not in the first read
        {z + "CLEAR OFF\n", 3},
    };
    for (const auto& c : cases) {
        Read(c.content);
        EXPECT_EQ(state().retryCount, c.retryCount) << c.content.substr(0, 20);
        EXPECT_EQ(state().clearCyclic, 1) << c.content.substr(0, 20);  // no CLEAR OFF read
    }
}
#endif

TEST_F(InitFileTest, PartialLastLineCountsFromTenCharacters) {
    Read("CLEAR OFF");  // compacts to 8 characters
    EXPECT_EQ(state().clearCyclic, 1);
    EXPECT_TRUE(Log().empty());
    Read("CLEAR OFF\n");
    EXPECT_EQ(state().clearCyclic, 0);
    Read("RETRY=123");  // 9 characters: dropped
    EXPECT_EQ(state().retryCount, 3u);
    Read("RETRY=1234");  // 10 characters: kept
    EXPECT_EQ(state().retryCount, 1234u);
    Read("RETRY=2\nRETRY = 5678");
    EXPECT_EQ(state().retryCount, 5678u);
}

TEST_F(InitFileTest, LongLinesKeepTheirFirst135Characters) {
    const std::string pad(130, 'X');
    Read(pad + "CLEAR" + "OFF\n" +  // CLEAR is characters 131 to 135: ON
         pad + "XCLEAR\n" +         // CLEAR cut after its C: no clear line
         "CLEAR," + std::string(200, ' ') + "OFF" + std::string(5000, 'Z') + "\n" +
         "RETRY=9\n");  // the next line is read on its own
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                              "RIREVI: Set clear Cyclic to ON",
                              "RIREVI: Set clear Cyclic to ON",
                              "RIREVI: ReadIntFile() Retry number is set to 9",
                          }));
    EXPECT_EQ(state().retryCount, 9u);

    // The line buffer itself: 135 characters and the terminator.
    std::FILE* file = std::fopen(FileName().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::string longLine(1000, 'A');
    std::fputs((longLine + "\nB\n").c_str(), file);
    std::fclose(file);
    IniFile ini;
    ASSERT_TRUE(ini.Open(FileName().c_str()));
    struct {
        char line[kIniLineLength + 1];
        char guard;
    } buffer;
    buffer.guard = '#';
    ASSERT_TRUE(ReadIniLine(ini, buffer.line));
    EXPECT_EQ(std::string(buffer.line), std::string(135, 'A'));
    EXPECT_EQ(buffer.guard, '#');
    ASSERT_TRUE(ReadIniLine(ini, buffer.line));
    EXPECT_EQ(std::string(buffer.line), "B");
    EXPECT_FALSE(ReadIniLine(ini, buffer.line));
    ini.Close();
}

TEST_F(InitFileTest, FileNameCarriesTheInstanceNumber) {
    std::remove(FileName().c_str());
    instance_ = 12;
    Read("STATION 300 = 01 001\n");
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{"RIREVI: ReadIntFile() ill. station nr. 300 line 1 in "
                                        "'qunDOZ12.INT'"}));
    std::remove(FileName().c_str());
    instance_ = 37;
}

}  // namespace
}  // namespace qun_test
