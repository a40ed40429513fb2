// The "Tag Format" dialog in a real window, opened through QunMain code 16 of
// MORDALIX.DLL and driven the way a user drives it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lab/korvex/korvex_control.h"
#include "tests/driver/browse/dialog/dialog_session.h"
#include "tests/support/driver_harness.h"

namespace qun_test {
namespace {

// Control identifiers of the template.
enum : int {
    kBitNumber = 1010,
    kEquipment = 1011,
    kChannel = 1012,
    kInternal = 1013,
    kExternal = 1014,
    kMemoryType = 1017,
    kByteWordness = 1021,
    kOk = 1022,
    kCancel = 1023,
    kAddress = 1033,
    kDigitalBit = 1036,
    kBitSpin = 1038,
    kEquipmentSpin = 1039,
    kChannelSpin = 1040,
};

const char kMissing[] = "Some values are missing ,please fill in all fields";
const char kInternalLimit[] = "You've passed the limits of internal address ,MAX=65536";
const char kExternalLimit[] = "You've passed the limits of external address ,MAX=4294967296";
const char kMax7[] = "The memory type you've chosen supports maximum 7 bits ";
const char kMax15[] = "The memory type you've chosen supports maximum 15 bits ";
const char kInternalChannel[] = "Internal memory  legal channel range is 1..8";
const char kExternalChannel[] = "External memory  legal channel range is 0..31";
const char kEquipmentRange[] = "Ilegal equitment , valid range is 0..255 ";

const std::vector<std::string> kExternalNames = {"Packed Bit",
                                                 "Packed input Bit",
                                                 "Packed output Bit",
                                                 "Quick Bit",
                                                 "Byte",
                                                 "Input Byte",
                                                 "Output Byte",
                                                 "Packed Byte",
                                                 "Packed input Byte",
                                                 "Packed output Byte",
                                                 "Word",
                                                 "Input Word",
                                                 "Output Word",
                                                 "Binary code decimal Word",
                                                 "Double Word",
                                                 "Float Word",
                                                 "Timer",
                                                 "Counter"};
const std::vector<std::string> kInternalNames = {"Packed Bit", "Bit",         "Packed Byte",
                                                 "Word",       "Double Word", "Float Word"};

class TagFormatDialog : public ::testing::Test {
protected:
    void SetUp() override { KvxReset(); }
    void TearDown() override { session_.Close(); }

    void Open(bool withOwner = false) {
        session_.Start(withOwner);
        ASSERT_TRUE(session_.WaitForDialog()) << "the Tag Format dialog did not appear";
    }

    std::vector<std::string> TypeNames() const {
        std::vector<std::string> names;
        for (int i = 0; i < session_.TypeCount(); ++i) names.push_back(session_.TypeAt(i));
        return names;
    }
    std::vector<std::string> ByteWordnessEntries() const {
        std::vector<std::string> entries;
        for (int i = 0; i < session_.ByteWordnessCount(); ++i)
            entries.push_back(session_.ByteWordnessAt(i));
        return entries;
    }
    std::pair<int, int> SpinRange(int id) const {
        int low = -1;
        int high = -1;
        SendMessageA(session_.Control(id), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                     reinterpret_cast<LPARAM>(&high));
        return {low, high};
    }
    // A user's complete External entry of a Word at 100 on channel 3, equipment 12.
    void EnterValidWord() {
        session_.Type(kChannel, "3");
        session_.Type(kEquipment, "12");
        session_.SelectType("Word");
        session_.Type(kAddress, "100");
    }
    void ExpectMessage(const char* expected) {
        EXPECT_EQ(session_.PressOkExpectingMessage(), expected);
        EXPECT_FALSE(session_.Returned()) << "the dialog closed after a message";
    }

    DialogSession session_;
};

const std::vector<std::string> kThreeChoices = {"None", "4", "2"};

TEST_F(TagFormatDialog, OpensEmptyInExternalMode) {
    Open();
    HWND dialog = session_.dialog();
    EXPECT_EQ(GetWindowLongPtrA(dialog, GWLP_HINSTANCE),
              reinterpret_cast<LONG_PTR>(DriverModule()));
    EXPECT_TRUE(session_.Checked(kExternal));
    EXPECT_FALSE(session_.Checked(kInternal));
    EXPECT_EQ(TypeNames(), kExternalNames);
    EXPECT_EQ(session_.SelectedType(), "");
    for (int id : {kChannel, kEquipment, kAddress}) EXPECT_EQ(session_.Text(id), "") << id;
    // Enabled at the start: everything but the digital controls.
    for (int id : {kInternal, kExternal, kChannel, kChannelSpin, kEquipment, kEquipmentSpin,
                   kMemoryType, kAddress, kByteWordness, kOk, kCancel})
        EXPECT_TRUE(session_.Enabled(id)) << id;
    for (int id : {kDigitalBit, kBitNumber, kBitSpin}) EXPECT_FALSE(session_.Enabled(id)) << id;
    EXPECT_FALSE(session_.Checked(kDigitalBit));
    EXPECT_EQ(session_.ByteWordnessCount(), 0);
    EXPECT_EQ(SpinRange(kChannelSpin), std::make_pair(0, 31));
    EXPECT_EQ(SpinRange(kEquipmentSpin), std::make_pair(0, 255));
    // Typing limits of the short fields.
    EXPECT_EQ(SendMessageA(session_.Control(kBitNumber), EM_GETLIMITTEXT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(session_.Control(kEquipment), EM_GETLIMITTEXT, 0, 0), 3);
    EXPECT_EQ(SendMessageA(session_.Control(kChannel), EM_GETLIMITTEXT, 0, 0), 2);
}

TEST_F(TagFormatDialog, OkRightAfterOpeningAsksForTheMissingValues) {
    Open();
    ExpectMessage(kMissing);
    // Owned by the dialog, with a single OK button.
    EXPECT_EQ(session_.lastBoxOwner(), session_.dialog());
    EXPECT_EQ(session_.lastBoxButtons(), 1);
    session_.PressCancel();
    ASSERT_TRUE(session_.WaitForReturn());
    EXPECT_EQ(session_.result(), 53);
    EXPECT_TRUE(session_.BufferUntouched());
}

TEST_F(TagFormatDialog, ModesSwitchListsFieldsAndRanges) {
    Open();
    session_.Type(kChannel, "5");
    session_.SelectType("Word");
    session_.Click(kInternal);
    EXPECT_TRUE(session_.Checked(kInternal));
    EXPECT_FALSE(session_.Checked(kExternal));
    EXPECT_EQ(session_.Text(kChannel), "1");
    EXPECT_EQ(session_.Text(kEquipment), "None");
    EXPECT_FALSE(session_.Enabled(kEquipment));
    EXPECT_FALSE(session_.Enabled(kEquipmentSpin));
    EXPECT_EQ(TypeNames(), kInternalNames);
    EXPECT_EQ(session_.SelectedType(), "");
    EXPECT_EQ(SpinRange(kChannelSpin), std::make_pair(1, 8));
    EXPECT_FALSE(session_.Enabled(kDigitalBit));
    EXPECT_FALSE(session_.Enabled(kByteWordness));
    EXPECT_EQ(session_.Text(kBitNumber), "--");

    session_.Type(kChannel, "7");
    session_.Click(kExternal);
    EXPECT_EQ(session_.Text(kChannel), "7");  // kept
    EXPECT_EQ(session_.Text(kEquipment), "0");
    EXPECT_TRUE(session_.Enabled(kEquipment));
    EXPECT_TRUE(session_.Enabled(kEquipmentSpin));
    EXPECT_EQ(TypeNames(), kExternalNames);
    EXPECT_EQ(SpinRange(kChannelSpin), std::make_pair(0, 31));
    EXPECT_EQ(SpinRange(kEquipmentSpin), std::make_pair(0, 255));
}

TEST_F(TagFormatDialog, ClickingTheActiveModeAgainLosesTheSelection) {
    Open();
    session_.Click(kInternal);
    session_.SelectType("Word");
    session_.Type(kAddress, "4");
    session_.Click(kInternal);
    EXPECT_EQ(session_.SelectedType(), "");
    ExpectMessage(kMissing);
}

TEST_F(TagFormatDialog, DigitalControlsFollowTheSelectedType) {
    Open();
    session_.SelectType("Word");
    EXPECT_TRUE(session_.Enabled(kDigitalBit));
    EXPECT_FALSE(session_.Checked(kDigitalBit));
    EXPECT_FALSE(session_.Enabled(kBitNumber));
    EXPECT_FALSE(session_.Enabled(kBitSpin));
    EXPECT_EQ(session_.Text(kBitNumber), "--");
    EXPECT_TRUE(session_.Enabled(kByteWordness));
    EXPECT_EQ(ByteWordnessEntries(), kThreeChoices);
    EXPECT_EQ(session_.ByteWordnessTop(), 0);

    // Ticked: field and spin enabled, field "0", spin range of the type; the
    // "Byte/Wordness" list keeps offering its three choices.
    session_.ScrollByteWordnessTo(1);
    session_.Click(kDigitalBit);
    EXPECT_TRUE(session_.Checked(kDigitalBit));
    EXPECT_TRUE(session_.Enabled(kBitNumber));
    EXPECT_TRUE(session_.Enabled(kBitSpin));
    EXPECT_EQ(session_.Text(kBitNumber), "0");
    EXPECT_EQ(SpinRange(kBitSpin), std::make_pair(0, 15));
    EXPECT_TRUE(session_.Enabled(kByteWordness));
    EXPECT_EQ(ByteWordnessEntries(), kThreeChoices);

    // Unticked: field and spin disabled, the field keeps its text, and the
    // list is refilled with "None" on top.
    session_.Type(kBitNumber, "9");
    session_.Click(kDigitalBit);
    EXPECT_FALSE(session_.Checked(kDigitalBit));
    EXPECT_FALSE(session_.Enabled(kBitNumber));
    EXPECT_FALSE(session_.Enabled(kBitSpin));
    EXPECT_EQ(session_.Text(kBitNumber), "9");
    EXPECT_TRUE(session_.Enabled(kByteWordness));
    EXPECT_EQ(ByteWordnessEntries(), kThreeChoices);
    EXPECT_EQ(session_.ByteWordnessTop(), 0);

    // A packed byte has 8 bits.
    session_.SelectType("Packed Byte");
    session_.Click(kDigitalBit);
    EXPECT_EQ(SpinRange(kBitSpin), std::make_pair(0, 7));

    // A type without bit number after a ticked one: unticked, disabled, "--";
    // a float still takes a byte/wordness.
    session_.SelectType("Float Word");
    EXPECT_FALSE(session_.Checked(kDigitalBit));
    EXPECT_FALSE(session_.Enabled(kDigitalBit));
    EXPECT_FALSE(session_.Enabled(kBitNumber));
    EXPECT_FALSE(session_.Enabled(kBitSpin));
    EXPECT_EQ(session_.Text(kBitNumber), "--");
    EXPECT_TRUE(session_.Enabled(kByteWordness));
    EXPECT_EQ(ByteWordnessEntries(), kThreeChoices);

    // No bit number and no byte/wordness.
    session_.SelectType("Quick Bit");
    EXPECT_FALSE(session_.Enabled(kDigitalBit));
    EXPECT_FALSE(session_.Enabled(kByteWordness));
    EXPECT_EQ(ByteWordnessEntries(), std::vector<std::string>{"None"});

    // Switching the mode resets the digital controls.
    session_.SelectType("Timer");
    session_.Click(kDigitalBit);
    session_.Click(kInternal);
    EXPECT_FALSE(session_.Checked(kDigitalBit));
    EXPECT_FALSE(session_.Enabled(kDigitalBit));
    EXPECT_FALSE(session_.Enabled(kBitNumber));
    EXPECT_FALSE(session_.Enabled(kBitSpin));
    EXPECT_EQ(session_.Text(kBitNumber), "--");
    EXPECT_FALSE(session_.Enabled(kByteWordness));
}

TEST_F(TagFormatDialog, OtherMemoryTypeNotificationsLeaveTheDialogAlone) {
    Open();
    EnterValidWord();
    session_.Click(kDigitalBit);
    session_.Type(kBitNumber, "5");
    // The list now shows another type, but only its selection change counts.
    HWND list = session_.Control(kMemoryType);
    SendMessageA(list, CB_SETCURSEL,
                 SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                              reinterpret_cast<LPARAM>("Float Word")),
                 0);
    const int codes[] = {CBN_DROPDOWN,   CBN_CLOSEUP,   CBN_SELENDOK, CBN_SELENDCANCEL,
                         CBN_SETFOCUS,   CBN_KILLFOCUS, CBN_DBLCLK,   CBN_EDITCHANGE,
                         CBN_EDITUPDATE, CBN_ERRSPACE};
    for (int code : codes) {
        SCOPED_TRACE(code);
        SendMessageA(session_.dialog(), WM_COMMAND, MAKEWPARAM(kMemoryType, code),
                     reinterpret_cast<LPARAM>(list));
        EXPECT_TRUE(session_.Enabled(kDigitalBit));
        EXPECT_TRUE(session_.Checked(kDigitalBit));
        EXPECT_TRUE(session_.Enabled(kBitNumber));
        EXPECT_EQ(session_.Text(kBitNumber), "5");
        EXPECT_EQ(ByteWordnessEntries(), kThreeChoices);
    }
    // OK composes from the type selected last.
    ASSERT_TRUE(session_.PressOkExpectingClose());
    EXPECT_STREQ(session_.buffer(), "3_12_W_100_B5");
}

TEST_F(TagFormatDialog, ExternalChecksComeInOrderAndKeepTheDialogOpen) {
    Open();
    session_.Type(kChannel, "32");
    session_.Type(kEquipment, "256");
    session_.SelectType("Word");
    ExpectMessage(kMissing);  // no address
    session_.Type(kAddress, "4294967297");
    session_.Click(kDigitalBit);
    session_.Type(kBitNumber, "16");
    ExpectMessage(kExternalLimit);
    // 4294967296 does not fit the 32-bit address: refused, never wrapped.
    session_.Type(kAddress, "4294967296");
    ExpectMessage(kExternalLimit);
    session_.Type(kAddress, "4294967295");
    ExpectMessage(kMax15);
    session_.Type(kBitNumber, "");
    ExpectMessage(kMissing);
    session_.Type(kBitNumber, "15");
    ExpectMessage(kExternalChannel);
    session_.Type(kChannel, "0");
    ExpectMessage(kEquipmentRange);
    session_.Type(kEquipment, "255");
    // Every field is as the user left it.
    EXPECT_EQ(session_.Text(kAddress), "4294967295");
    EXPECT_EQ(session_.SelectedType(), "Word");
    ASSERT_TRUE(session_.PressOkExpectingClose());
    EXPECT_EQ(session_.result(), 0);
    EXPECT_STREQ(session_.buffer(), "0_255_W_4294967295_B15");
}

TEST_F(TagFormatDialog, InternalChecksComeInOrder) {
    Open();
    session_.Click(kInternal);
    session_.SelectType("Packed Byte");
    session_.Type(kAddress, "65537");
    session_.Type(kChannel, "9");
    session_.Click(kDigitalBit);
    session_.Type(kBitNumber, "8");
    ExpectMessage(kInternalLimit);
    session_.Type(kAddress, "65536");
    ExpectMessage(kMax7);
    session_.Type(kBitNumber, "7");
    ExpectMessage(kInternalChannel);
    session_.Type(kChannel, "0");
    ExpectMessage(kInternalChannel);
    session_.Type(kChannel, "8");
    ASSERT_TRUE(session_.PressOkExpectingClose());
    EXPECT_EQ(session_.result(), 0);
    EXPECT_STREQ(session_.buffer(), "8_0_MY_65536_B7");
}

TEST_F(TagFormatDialog, UntickingDigitalBitMakesOkIgnoreTheField) {
    Open();
    EnterValidWord();
    session_.Click(kDigitalBit);
    session_.Type(kBitNumber, "");
    ExpectMessage(kMissing);
    session_.Click(kDigitalBit);
    ASSERT_TRUE(session_.PressOkExpectingClose());
    EXPECT_STREQ(session_.buffer(), "3_12_W_100");
}

struct Entry {
    bool internal;
    const char* channel;
    const char* equipment;  // External only
    const char* type;
    const char* address;
    const char* bit;   // null: "Digital bit" not ticked
    int byteWordness;  // entry scrolled to the top: 0 "None", 1 "4", 2 "2"
    const char* expected;
};

TEST_F(TagFormatDialog, OkWritesTheComposedAddressIntoTheHostsBuffer) {
    const Entry entries[] = {
        {false, "3", "12", "Word", "100", nullptr, 0, "3_12_W_100"},
        {false, "0", "5", "Packed Byte", "10", "3", 0, "0_5_PBY_10_B3"},
        {false, "31", "255", "Double Word", "400", "15", 1, "31_255_DW_400_B15_/4"},
        {false, "07", "010", "Float Word", "0020", nullptr, 2, "7_10_FW_20_/2"},
        {true, "2", nullptr, "Double Word", "40", nullptr, 2, "2_0_MD_40_/2"},
        {true, "1", nullptr, "Packed Bit", "7", nullptr, 0, "1_0_MPB_7"},
        {false, "1", "2", "Word", "10", nullptr, 1, "1_2_W_10_/4"},
        {false, "0", "0", "Packed output Byte", "1", "7", 2, "0_0_PQBY_1_B7_/2"},
        {true, "8", nullptr, "Word", "65536", "15", 0, "8_0_MW_65536_B15"},
    };
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.expected);
        KvxReset();
        DialogSession session;
        session.Start();
        ASSERT_TRUE(session.WaitForDialog());
        if (e.internal) session.Click(kInternal);
        session.Type(kChannel, e.channel);
        if (!e.internal) session.Type(kEquipment, e.equipment);
        session.SelectType(e.type);
        session.Type(kAddress, e.address);
        if (e.bit != nullptr) {
            session.Click(kDigitalBit);
            session.Type(kBitNumber, e.bit);
        }
        if (e.byteWordness != 0) session.ScrollByteWordnessTo(e.byteWordness);
        ASSERT_TRUE(session.PressOkExpectingClose());
        EXPECT_EQ(session.result(), 0);
        EXPECT_STREQ(session.buffer(), e.expected);
        // Nothing beyond the address and its zero.
        const size_t length = std::strlen(e.expected);
        for (size_t i = length + 1; i < 64; ++i) ASSERT_EQ(session.buffer()[i], '*') << i;
    }
}

TEST_F(TagFormatDialog, ByteWordnessIsTheEntryScrolledToTheTop) {
    Open();
    EnterValidWord();
    session_.ScrollByteWordnessDown();
    EXPECT_EQ(session_.ByteWordnessTop(), 1);
    session_.ScrollByteWordnessDown();
    EXPECT_EQ(session_.ByteWordnessTop(), 2);
    ASSERT_TRUE(session_.PressOkExpectingClose());
    EXPECT_STREQ(session_.buffer(), "3_12_W_100_/2");
}

TEST_F(TagFormatDialog, EnterAndEscapeLeaveTheDialogOpen) {
    Open();
    EnterValidWord();
    // The dialog manager's commands for Enter and Escape.
    SendMessageA(session_.dialog(), WM_COMMAND, IDOK, 0);
    SendMessageA(session_.dialog(), WM_COMMAND, IDCANCEL, 0);
    // The keys themselves, through the dialog's message loop; a posted text
    // selection after them tells when they have been handled.
    HWND address = session_.Control(kAddress);
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        PostMessageA(address, WM_KEYDOWN, key, 1);
        PostMessageA(address, WM_KEYUP, key, 0xC0000001);
    }
    PostMessageA(address, EM_SETSEL, 1, 2);
    DWORD start = 0;
    DWORD end = 0;
    for (int i = 0; i < 3000; ++i) {
        SendMessageA(address, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        if (start == 1 && end == 2) break;
        Sleep(10);
    }
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(end, 2u);
    EXPECT_FALSE(session_.Returned());
    EXPECT_EQ(session_.FindMessageBox(), nullptr);
    EXPECT_TRUE(session_.BufferUntouched());
    ASSERT_TRUE(session_.PressOkExpectingClose());
    EXPECT_STREQ(session_.buffer(), "3_12_W_100");
}

TEST_F(TagFormatDialog, CancelAnswers53AndLeavesTheBufferAlone) {
    Open();
    EnterValidWord();
    session_.PressCancel();
    ASSERT_TRUE(session_.WaitForReturn());
    EXPECT_EQ(session_.result(), 53);
    EXPECT_TRUE(session_.BufferUntouched());
}

BOOL CALLBACK CountTagFormat(HWND window, LPARAM parameter) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char title[32] = "";
    GetWindowTextA(window, title, sizeof title);
    if (process == GetCurrentProcessId() && std::string(title) == "Tag Format")
        ++*reinterpret_cast<int*>(parameter);
    return TRUE;
}

int CountTagFormatWindows() {
    int count = 0;
    EnumWindows(CountTagFormat, reinterpret_cast<LPARAM>(&count));
    return count;
}

TEST_F(TagFormatDialog, OneDialogAtATimeAndAgainAfterItCloses) {
    Open();
    char other[32];
    std::memset(other, '*', sizeof other);
    const int32_t callsBefore = KvxCallCount(KVX_MKCLIENT);
    EXPECT_EQ(DialogSession::BrowseOnThisThread(other), 53);
    EXPECT_EQ(KvxCallCount(KVX_MKCLIENT), callsBefore);
    EXPECT_EQ(CountTagFormatWindows(), 1);
    for (char c : other) EXPECT_EQ(c, '*');
    session_.PressCancel();
    ASSERT_TRUE(session_.WaitForReturn());

    // Closed: the next call shows the dialog again.
    DialogSession again;
    again.Start();
    ASSERT_TRUE(again.WaitForDialog());
    again.PressCancel();
    ASSERT_TRUE(again.WaitForReturn());
    EXPECT_EQ(again.result(), 53);
}

TEST_F(TagFormatDialog, OwnedByTheHostWindowFromVersion820) {
    struct Case {
        uint16_t version;
        bool failRegistration;
        bool owned;
    };
    for (const Case& c : {Case{820, false, true}, Case{900, false, true}, Case{819, false, false},
                          Case{820, true, false}}) {
        SCOPED_TRACE(c.version);
        KvxReset();
        KvxSetVersion(c.version, "test");
        if (c.failRegistration) KvxFailNext(KVX_MKCLIENT, 7, 1);
        DialogSession session;
        session.Start(true);
        ASSERT_TRUE(session.WaitForDialog());
        ASSERT_NE(session.owner(), nullptr);
        const HWND owner = GetWindow(session.dialog(), GW_OWNER);
        EXPECT_EQ(owner, c.owned ? session.owner() : nullptr);
        // A modal dialog keeps its owner disabled while it is open.
        EXPECT_EQ(IsWindowEnabled(session.owner()) == FALSE, c.owned);
        EXPECT_EQ(KvxClientCount(), 0);  // the client was removed at once
        session.PressCancel();
        ASSERT_TRUE(session.WaitForReturn());
    }
}

TEST_F(TagFormatDialog, NothingCarriesOverFromThePreviousDialog) {
    Open();
    session_.Click(kInternal);
    session_.SelectType("Word");
    session_.Click(kDigitalBit);
    session_.PressCancel();
    ASSERT_TRUE(session_.WaitForReturn());

    DialogSession next;
    next.Start();
    ASSERT_TRUE(next.WaitForDialog());
    EXPECT_TRUE(next.Checked(kExternal));
    EXPECT_FALSE(next.Enabled(kDigitalBit));
    EXPECT_EQ(next.Text(kChannel), "");
    next.Type(kChannel, "1");
    next.Type(kEquipment, "1");
    next.Type(kAddress, "1");
    EXPECT_EQ(next.PressOkExpectingMessage(), kMissing);
    next.Close();
}

}  // namespace
}  // namespace qun_test
