// The stand-in host runtime: log read-back and the scripted client services.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/platform/host.h"
#include "lab/korvex/korvex_control.h"

namespace {

class KorvexTest : public ::testing::Test {
protected:
    void SetUp() override { KvxReset(); }
};

TEST_F(KorvexTest, ErrFormatsWithPrintfConventions) {
    err(8, "a %d b %u c '%s' %02Xh", -3, 7u, "txt", 10u);
    err(32, "second");
    ASSERT_EQ(KvxLogCount(), 2);
    char text[64];
    int32_t level = 0;
    EXPECT_EQ(KvxLogLine(0, &level, text, sizeof text), 20);
    EXPECT_STREQ(text, "a -3 b 7 c 'txt' 0Ah");
    EXPECT_EQ(level, 8);
    KvxLogLine(1, &level, text, sizeof text);
    EXPECT_EQ(level, 32);
    EXPECT_EQ(KvxLogLine(2, &level, text, sizeof text), -1);
}

TEST_F(KorvexTest, LongLinesAreKeptWhole) {
    std::string long_text(3000, 'x');
    err(8, "%s", long_text.c_str());
    EXPECT_EQ(KvxLogLine(0, nullptr, nullptr, 0), 3000);
}

TEST_F(KorvexTest, ClientsGetIdsAndAnswerFromTheScript) {
    uint8_t id = 255;
    ASSERT_EQ(KorMkClient("APPLICOM", 1, 0, &id), 0);
    EXPECT_NE(id, 255);
    KvxSetStationConfig(1);
    uint32_t config = 0;
    EXPECT_EQ(KorGetLocalStationCfg(id, 0, 0, 0, &config, 0, 0), 0);
    EXPECT_EQ(config, 1u);

    const int32_t modes[] = {1, 0, 2};
    KvxQueueBackupModes(modes, 3);
    int32_t mode = -1;
    for (int32_t expected : {1, 0, 2, 2}) {
        EXPECT_EQ(KorGetBackupMode(id, &mode), 0);
        EXPECT_EQ(mode, expected);
    }

    char message[24];
    EXPECT_NE(KorWaitMsg(id, message, 20), 0);
    KvxPostShutdown();
    EXPECT_EQ(KorWaitMsg(id, message, 20), 0);
    EXPECT_NE(KorWaitMsg(id, message, 20), 0);

    uint16_t version = 0;
    char versionText[100];
    KvxSetVersion(819, "old");
    EXPECT_EQ(KorGetKorvexVer(id, &version, versionText), 0);
    EXPECT_EQ(version, 819);
    EXPECT_STREQ(versionText, "old");

    EXPECT_EQ(KvxClientCount(), 1);
    EXPECT_EQ(KorRmClient(id), 0);
    EXPECT_EQ(KvxClientCount(), 0);
}

TEST_F(KorvexTest, ScriptedFailuresAnswerTheirStatusAndDoNothingElse) {
    KvxFailNext(KVX_MKCLIENT, 7, 1);
    uint8_t id = 255;
    EXPECT_EQ(KorMkClient("QunDozBr12", 1, 0, &id), 7);
    EXPECT_EQ(id, 255);
    EXPECT_EQ(KorMkClient("QunDozBr12", 1, 0, &id), 0);
    EXPECT_EQ(KvxRequestedClientCount(), 2);

    KvxFailNext(KVX_BACKUPMODE, 3, -1);
    int32_t mode = 42;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(KorGetBackupMode(id, &mode), 3);
    EXPECT_EQ(mode, 42);
    EXPECT_EQ(KvxCallCount(KVX_BACKUPMODE), 3);
}

TEST_F(KorvexTest, WaitForFindsALineLoggedEarlierOrLater) {
    err(8, "first");
    EXPECT_EQ(KvxLogWaitFor("first", 0, 10), 0);
    EXPECT_EQ(KvxLogWaitFor("first", 1, 10), -1);
}

}  // namespace
