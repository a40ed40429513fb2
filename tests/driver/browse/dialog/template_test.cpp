// Resource 101 of MORDALIX.DLL as the module carries it, and the window the
// system builds from it.
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

struct ItemTemplate {
    int id;  // -1 for the labels and group boxes
    std::string windowClass;
    std::string text;
    int x, y, cx, cy;
    DWORD style;
};

struct DialogTemplate {
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    int pointSize = 0;
    std::string font;
    std::vector<ItemTemplate> items;
};

// Reads the 16-bit words of a DLGTEMPLATE (the plain, non-extended form).
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : data_(data) {}
    WORD Word() {
        WORD value;
        std::memcpy(&value, data_ + offset_, 2);
        offset_ += 2;
        return value;
    }
    DWORD Dword() {
        const DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    std::string String() {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
        return text;
    }
    // A name or an ordinal; predefined control classes by name.
    std::string NameOrOrdinal() {
        WORD first = Word();
        if (first == 0xFFFF) {
            const WORD ordinal = Word();
            switch (ordinal) {
                case 0x80:
                    return "Button";
                case 0x81:
                    return "Edit";
                case 0x82:
                    return "Static";
                case 0x83:
                    return "ListBox";
                case 0x84:
                    return "ScrollBar";
                case 0x85:
                    return "ComboBox";
                default:
                    return "#" + std::to_string(ordinal);
            }
        }
        std::string text;
        for (WORD c = first; c != 0; c = Word()) text += static_cast<char>(c);
        return text;
    }
    void AlignToDword() { offset_ = (offset_ + 3) & ~size_t{3}; }
    void Skip(size_t bytes) { offset_ += bytes; }

private:
    const BYTE* data_;
    size_t offset_ = 0;
};

bool ReadTemplate(DialogTemplate* out) {
    HMODULE module = static_cast<HMODULE>(DriverModule());
    HRSRC resource =
        FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5));  // RT_DIALOG
    if (resource == nullptr) return false;
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, resource)));
    if (data == nullptr) return false;
    TemplateReader reader(data);
    out->style = reader.Dword();
    reader.Dword();  // extended style
    const int count = reader.Word();
    out->x = static_cast<short>(reader.Word());
    out->y = static_cast<short>(reader.Word());
    out->cx = static_cast<short>(reader.Word());
    out->cy = static_cast<short>(reader.Word());
    reader.NameOrOrdinal();  // menu
    reader.NameOrOrdinal();  // class
    out->caption = reader.String();
    if (out->style & DS_SETFONT) {
        out->pointSize = reader.Word();
        out->font = reader.String();
    }
    for (int i = 0; i < count; ++i) {
        reader.AlignToDword();
        ItemTemplate item;
        item.style = reader.Dword();
        reader.Dword();  // extended style
        item.x = static_cast<short>(reader.Word());
        item.y = static_cast<short>(reader.Word());
        item.cx = static_cast<short>(reader.Word());
        item.cy = static_cast<short>(reader.Word());
        item.id = static_cast<short>(reader.Word());
        item.windowClass = reader.NameOrOrdinal();
        item.text = reader.NameOrOrdinal();
        reader.Skip(reader.Word());  // creation data
        out->items.push_back(item);
    }
    return true;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kEdit = kChild | ES_NUMBER | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kSpin =
    kChild | UDS_WRAP | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS;

// The template, control by control, in tab order.
const ItemTemplate kExpectedItems[] = {
    {1013, "Button", "Internal", 32, 20, 38, 10, kChild | BS_AUTORADIOBUTTON},
    {1014, "Button", "External", 81, 20, 40, 10, kChild | BS_AUTORADIOBUTTON},
    {1012, "Edit", "", 58, 58, 32, 14, kEdit},
    {1040, "msctls_updown32", "", 90, 59, 8, 14, kSpin},
    {1011, "Edit", "", 58, 77, 32, 14, kEdit},
    {1039, "msctls_updown32", "", 90, 77, 8, 14, kSpin | UDS_NOTHOUSANDS},
    {1017, "ComboBox", "", 58, 96, 82, 78, kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
    {1033, "Edit", "", 58, 114, 40, 12, kEdit},
    {1036, "Button", "Digital bit", 166, 22, 44, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP},
    {1010, "Edit", "", 211, 19, 26, 14, kEdit},
    {1038, "msctls_updown32", "", 237, 19, 11, 14, kSpin | UDS_NOTHOUSANDS},
    {1021, "ListBox", "", 220, 59, 40, 12,
     kChild | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | LBS_NOTIFY | WS_TABSTOP},
    {1022, "Button", "OK", 165, 119, 42, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {1023, "Button", "Cancel", 213, 119, 42, 14, kChild | BS_PUSHBUTTON | WS_TABSTOP},
    {-1, "Static", "Equipment", 10, 81, 33, 8, kChild | SS_LEFT},
    {-1, "Button", "Digital", 156, 7, 109, 33, kChild | BS_GROUPBOX},
    {-1, "Static", "Channel", 10, 63, 26, 10, kChild | SS_LEFT},
    {-1, "Static", "Memory Type", 10, 101, 43, 8, kChild | SS_LEFT},
    {-1, "Static", "Address", 10, 118, 27, 8, kChild | SS_LEFT},
    {-1, "Static", "Byte/Wordness", 163, 61, 54, 12, kChild | SS_LEFT},
    {-1, "Button", "Address Fields", 7, 45, 140, 89, kChild | BS_GROUPBOX},
    {-1, "Button", "Memory", 7, 7, 140, 33, kChild | BS_GROUPBOX},
    {-1, "Button", "Static", 156, 45, 109, 36, kChild | BS_GROUPBOX},
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST(TagFormatTemplate, IsResource101WithTheLayoutOfTheForm) {
    DialogTemplate dialog;
    ASSERT_TRUE(ReadTemplate(&dialog)) << "MORDALIX.DLL has no dialog resource 101";
    EXPECT_EQ(dialog.caption, "Tag Format");
    EXPECT_EQ(dialog.cx, 273);
    EXPECT_EQ(dialog.cy, 138);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, "MS Sans Serif");
    EXPECT_EQ(dialog.style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME),
              WS_POPUP | WS_CAPTION | DS_MODALFRAME);
    EXPECT_EQ(dialog.style & WS_SYSMENU, 0u) << "no system menu, so no close box";

    const size_t count = sizeof kExpectedItems / sizeof kExpectedItems[0];
    ASSERT_EQ(dialog.items.size(), count);
    for (size_t i = 0; i < count; ++i) {
        const ItemTemplate& want = kExpectedItems[i];
        const ItemTemplate& got = dialog.items[i];
        SCOPED_TRACE(std::to_string(i) + " " + want.text + " " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(Lower(got.windowClass), Lower(want.windowClass));
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style << " " << want.style;
    }
}

TEST(TagFormatTemplate, TheOpenWindowIsBuiltFromIt) {
    KvxReset();
    DialogSession session;
    session.Start();
    ASSERT_TRUE(session.WaitForDialog());
    HWND dialog = session.dialog();
    EXPECT_EQ(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU, 0);

    // Size and font.
    RECT client;
    GetClientRect(dialog, &client);
    RECT units{0, 0, 273, 138};
    MapDialogRect(dialog, &units);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");

    // The children in template order, where the template puts them; up-down
    // controls take the field before them as buddy (and narrow it).
    size_t i = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT), ++i) {
        ASSERT_LT(i, sizeof kExpectedItems / sizeof kExpectedItems[0]);
        const ItemTemplate& want = kExpectedItems[i];
        SCOPED_TRACE(want.text + " " + std::to_string(want.id));
        EXPECT_EQ(static_cast<short>(GetDlgCtrlID(child)), want.id);
        // Position and size are converted from dialog units separately.
        RECT position{want.x, want.y, 0, 0};
        MapDialogRect(dialog, &position);
        RECT size{0, 0, want.cx, want.cy};
        MapDialogRect(dialog, &size);
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        if (want.windowClass == "msctls_updown32") {
            HWND buddy = reinterpret_cast<HWND>(SendMessageA(child, UDM_GETBUDDY, 0, 0));
            EXPECT_EQ(buddy, GetWindow(child, GW_HWNDPREV));
            continue;
        }
        EXPECT_EQ(actual.left, position.left);
        EXPECT_EQ(actual.top, position.top);
        if (want.windowClass == "ComboBox") continue;  // the template height is the dropped one
        EXPECT_EQ(actual.bottom - actual.top, size.bottom);
        if (want.windowClass != "Edit" || want.id == 1033) {
            EXPECT_EQ(actual.right - actual.left, size.right);
        }
    }
    EXPECT_EQ(i, sizeof kExpectedItems / sizeof kExpectedItems[0]);
    session.Close();
}

}  // namespace
}  // namespace qun_test
