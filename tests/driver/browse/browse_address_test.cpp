// BrowseAddress around the dialog: the busy mark, the host version and the
// owner rule, and what reaches the host's buffer. The window itself is
// replaced by the fake of fake_browse_dialog.h (dialog_tests drive the real one).
#include "driver/browse/browse_address.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "driver/entry/driver_functions.h"
#include "driver/platform/host.h"
#include "driver/platform/os.h"
#include "lab/korvex/korvex_control.h"
#include "tests/driver/browse/fake_browse_dialog.h"
#include "tests/support/driver_harness.h"

namespace qun_test {
namespace {

constexpr uint32_t kOwner = 0x00012345;

class BrowseAddressTest : public ::testing::Test {
protected:
    void SetUp() override {
        KvxReset();
        FakeDialog() = FakeBrowseDialog{};
        std::memset(buffer_, '*', sizeof buffer_);
        block_.addressBuffer = buffer_;
        block_.ownerWindow = kOwner;
        request_.parameters = &block_;
        request_.functionCode = 16;
    }

    int32_t Browse() { return BrowseAddress(&request_); }

    // The buffer is exactly as the host left it.
    void ExpectBufferUntouched() {
        for (size_t i = 0; i < sizeof buffer_; ++i) ASSERT_EQ(buffer_[i], '*') << i;
    }

    char buffer_[64];
    BrowseBlock block_{};
    QunRequest request_{};
};

TEST_F(BrowseAddressTest, OkCopiesTheComposedAddressWithItsZeroOnly) {
    FakeDialog().result = 1022;
    FakeDialog().composed = "31_255_DW_400_B15_/4";
    EXPECT_EQ(Browse(), 0);
    EXPECT_STREQ(buffer_, "31_255_DW_400_B15_/4");
    for (size_t i = 21; i < sizeof buffer_; ++i) EXPECT_EQ(buffer_[i], '*') << i;
}

TEST_F(BrowseAddressTest, AnyOtherEndLeavesTheBufferAlone) {
    struct Case {
        int32_t result;
        const char* composed;
    };
    const Case cases[] = {
        {1023, "1_2_W_3"},  // Cancel
        {-1, "1_2_W_3"},    // the dialog could not be created
        {0, "1_2_W_3"},
        {1, "1_2_W_3"},  // IDOK never ends this dialog
        // OK, but nothing the host's buffer is sized for.
        {1022, ""},
        {1022, "31_255_BCDW_4294967295_B15_/44"},  // 30 characters
    };
    for (const Case& c : cases) {
        SetUp();
        FakeDialog().result = c.result;
        FakeDialog().composed = c.composed;
        EXPECT_EQ(Browse(), 53) << c.result << " " << c.composed;
        ExpectBufferUntouched();
    }
}

TEST_F(BrowseAddressTest, TheLongestAddressFits) {
    FakeDialog().result = 1022;
    FakeDialog().composed = "31_255_BCDW_4294967295_B15_/4";
    EXPECT_EQ(Browse(), 0);
    EXPECT_STREQ(buffer_, "31_255_BCDW_4294967295_B15_/4");
    EXPECT_EQ(buffer_[30], '*');
}

TEST_F(BrowseAddressTest, OwnerFromHostVersion820On) {
    struct Case {
        uint16_t version;
        uint32_t owner;
    };
    const Case cases[] = {{820, kOwner}, {821, kOwner}, {65535, kOwner}, {819, 0}, {0, 0}, {1, 0}};
    for (const Case& c : cases) {
        SetUp();
        KvxSetVersion(c.version, "any");
        Browse();
        EXPECT_EQ(FakeDialog().calls, 1);
        EXPECT_EQ(FakeDialog().owner, c.owner) << c.version;
    }
}

TEST_F(BrowseAddressTest, RegistersAShortLivedClientNamedAfterTheThread) {
    Browse();
    char expected[32];
    std::snprintf(expected, sizeof expected, "QunDozBr%02d",
                  static_cast<int>(os::CurrentThreadId()));
    ASSERT_EQ(KvxRequestedClientCount(), 1);
    char name[64] = "";
    KvxRequestedClientName(0, name, sizeof name);
    EXPECT_STREQ(name, expected);
    EXPECT_EQ(KvxCallCount(KVX_MKCLIENT), 1);
    EXPECT_EQ(KvxCallCount(KVX_VERSION), 1);
    EXPECT_EQ(KvxCallCount(KVX_RMCLIENT), 1);
    EXPECT_EQ(KvxClientCount(), 0);
}

TEST_F(BrowseAddressTest, FailedRegistrationAsksNothingAndGivesNoOwner) {
    KvxFailNext(KVX_MKCLIENT, 5, 1);
    Browse();
    EXPECT_EQ(KvxCallCount(KVX_VERSION), 0);
    EXPECT_EQ(KvxCallCount(KVX_RMCLIENT), 0);
    EXPECT_EQ(FakeDialog().calls, 1);
    EXPECT_EQ(FakeDialog().owner, 0u);
}

TEST_F(BrowseAddressTest, WithoutBlockOrBufferNothingIsShownAndTheReasonLogged) {
    BrowseBlock noBuffer{nullptr, kOwner};
    struct Case {
        void* parameters;
        const char* log;
    };
    for (const Case& c : {Case{nullptr, "RIREVI: BrowseAddress() no parameter block"},
                          Case{&noBuffer, "RIREVI: BrowseAddress() no address buffer"}}) {
        SetUp();
        request_.parameters = c.parameters;
        EXPECT_EQ(Browse(), 53);
        EXPECT_EQ(Log(), (std::vector<LogLine>{{kLogError, c.log}}));
        EXPECT_EQ(FakeDialog().calls, 0);
        EXPECT_EQ(KvxCallCount(KVX_MKCLIENT), 0);
    }
    request_.parameters = &block_;  // the refusal left no busy mark behind
    Browse();
    EXPECT_EQ(FakeDialog().calls, 1);
}

TEST_F(BrowseAddressTest, ACallWhileTheDialogIsOpenAnswers53AtOnce) {
    int32_t nested = -1;
    int32_t fromThread = -1;
    int32_t withoutBuffer = -1;
    int32_t withoutBlock = -1;
    char other[32];
    std::memset(other, '*', sizeof other);
    FakeDialog().result = 1022;
    FakeDialog().composed = "3_12_W_100";
    FakeDialog().while_open = [&] {
        // From within the dialog's own message loop...
        QunRequest inner = request_;
        BrowseBlock innerBlock{other, kOwner};
        inner.parameters = &innerBlock;
        nested = BrowseAddress(&inner);
        // ...and from another host thread.
        std::thread([&] { fromThread = BrowseAddress(&inner); }).join();
        // The busy mark comes first, also for a block the host got wrong.
        BrowseBlock noBuffer{nullptr, kOwner};
        inner.parameters = &noBuffer;
        withoutBuffer = BrowseAddress(&inner);
        inner.parameters = nullptr;
        withoutBlock = BrowseAddress(&inner);
    };
    EXPECT_EQ(Browse(), 0);
    EXPECT_EQ(nested, 53);
    EXPECT_EQ(fromThread, 53);
    EXPECT_EQ(withoutBuffer, 53);
    EXPECT_EQ(withoutBlock, 53);
    EXPECT_EQ(FakeDialog().calls, 1);
    // The turned-away calls made no host call, not even to the log, and
    // wrote nothing.
    EXPECT_EQ(KvxCallCount(KVX_MKCLIENT), 1);
    EXPECT_EQ(KvxLogCount(), 0);
    for (char c : other) EXPECT_EQ(c, '*');
    EXPECT_STREQ(buffer_, "3_12_W_100");
}

TEST_F(BrowseAddressTest, ClosingTheDialogLetsTheNextCallShowItAgain) {
    for (int32_t result : {1023, -1, 1022, 1023}) {
        FakeDialog().result = result;
        FakeDialog().composed = "0_5_PBY_10_B3";
        Browse();
    }
    EXPECT_EQ(FakeDialog().calls, 4);
}

}  // namespace
}  // namespace qun_test
