#include "tests/driver/browse/dialog/dialog_session.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/driver_harness.h"

namespace qun_test {

namespace {

constexpr int kOkButton = 1022;
constexpr int kCancelButton = 1023;
constexpr int kMemoryTypeList = 1017;
constexpr int kByteWordnessList = 1021;
constexpr int kMessageText = 0xFFFF;  // the text of a message box
constexpr char kPattern = '*';

// Polls condition every 10 ms until it holds or timeoutMs have passed.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = kWindowWaitMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(10);
    }
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string WindowText(HWND window) {
    const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(std::strlen(text.c_str()));
    return text;
}

struct DialogSearch {
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        ClassOf(window) == "#32770" && WindowText(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The visible dialog-class window of a thread with this caption, or null.
HWND FindThreadDialog(DWORD threadId, const char* caption) {
    DialogSearch search{caption, nullptr};
    EnumThreadWindows(threadId, MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

ATOM HostWindowClass() {
    static const ATOM atom = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "QunTestHostWindow";
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        return RegisterClassA(&windowClass);
    }();
    return atom;
}

}  // namespace

// Wine waits up to two seconds for a window manager to confirm each window it
// hides; the test display has none. Windows of this program are therefore left
// unmanaged. Wine reads the setting as a program starts, before this runs, so
// it takes effect from the program's next run on: ctest runs it once first
// (dialog_tests/unmanaged_windows).
const bool kUnmanagedWindows = [] {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    const char* name = std::strrchr(path, '\\');
    name = name != nullptr ? name + 1 : path;
    const std::string key = std::string("Software\\Wine\\AppDefaults\\") + name + "\\X11 Driver";
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    RegSetValueExA(handle, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(handle);
    return true;
}();

std::string CloseMessageBox(HWND box) {
    HWND textControl = GetDlgItem(box, kMessageText);
    std::string text;
    if (textControl != nullptr) {
        text = WindowText(textControl);
    } else {
        // Any static with a text.
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT))
            if (ClassOf(child) == "Static" && !WindowText(child).empty()) text = WindowText(child);
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    if (!WaitUntil([box] { return IsWindow(box) == FALSE; }))
        ADD_FAILURE() << "the message box \"" << text << "\" did not close";
    return text;
}

DialogSession::~DialogSession() {
    Close();
    if (thread_ != nullptr) CloseHandle(thread_);
    if (ownerReady_ != nullptr) CloseHandle(ownerReady_);
}

DWORD WINAPI DialogSession::HostThread(void* parameter) {
    auto* self = static_cast<DialogSession*>(parameter);
    // As a host must: the up-down controls are common controls.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (self->withOwner_) {
        self->owner_ = CreateWindowExA(0, MAKEINTATOM(HostWindowClass()), "Qun test host",
                                       WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 200, nullptr,
                                       nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    self->block_.ownerWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(self->owner_));
    SetEvent(self->ownerReady_);
    self->result_ = CallQunMain(&self->request_);
    if (self->owner_ != nullptr) DestroyWindow(self->owner_);
    return 0;
}

void DialogSession::Start(bool withOwner) {
    std::memset(buffer_, kPattern, sizeof buffer_);
    withOwner_ = withOwner;
    block_.addressBuffer = buffer_;
    request_ = QunRequest{};
    request_.functionCode = 16;
    request_.instance = 1;
    request_.parameters = &block_;
    ownerReady_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, HostThread, this, 0, &hostThreadId_);
    ASSERT_NE(thread_, nullptr);
    ASSERT_EQ(WaitForSingleObject(ownerReady_, kWindowWaitMs), WAIT_OBJECT_0);
}

bool DialogSession::WaitForDialog() {
    return WaitUntil([this] {
               dialog_ = FindThreadDialog(hostThreadId_, "Tag Format");
               return dialog_ != nullptr || Returned();
           }) &&
           dialog_ != nullptr;
}

void DialogSession::Click(int id) {
    HWND control = Control(id);
    ASSERT_NE(control, nullptr) << id;
    ASSERT_TRUE(IsWindowEnabled(control)) << "control " << id << " is disabled";
    SendMessageA(control, BM_CLICK, 0, 0);
}

void DialogSession::Type(int id, const char* text) {
    HWND control = Control(id);
    ASSERT_NE(control, nullptr) << id;
    ASSERT_TRUE(IsWindowEnabled(control)) << "field " << id << " is disabled";
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

void DialogSession::SelectType(const char* name) {
    HWND list = Control(kMemoryTypeList);
    ASSERT_TRUE(IsWindowEnabled(list));
    const LRESULT index = SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(name));
    ASSERT_NE(index, CB_ERR) << name << " is not offered";
    SendMessageA(list, CB_SETCURSEL, index, 0);
    SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(kMemoryTypeList, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
}

void DialogSession::ScrollByteWordnessTo(int index) {
    HWND list = Control(kByteWordnessList);
    ASSERT_TRUE(IsWindowEnabled(list));
    SendMessageA(list, LB_SETTOPINDEX, index, 0);
}

void DialogSession::ScrollByteWordnessDown() {
    HWND list = Control(kByteWordnessList);
    ASSERT_TRUE(IsWindowEnabled(list));
    SendMessageA(list, WM_VSCROLL, MAKEWPARAM(SB_LINEDOWN, 0), 0);
}

std::string DialogSession::PressOkExpectingMessage() {
    // Posted: the button's handler does not return while its message box is open.
    PostMessageA(Control(kOkButton), BM_CLICK, 0, 0);
    HWND box = nullptr;
    if (!WaitUntil([&] {
            box = FindMessageBox();
            return box != nullptr || Returned();
        })) {
        ADD_FAILURE() << "OK raised no message box and the dialog stayed open";
        return "";
    }
    if (box == nullptr) return "";
    lastBoxOwner_ = GetWindow(box, GW_OWNER);
    lastBoxButtons_ = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
        if (ClassOf(child) == "Button" && IsWindowVisible(child)) ++lastBoxButtons_;
    return CloseMessageBox(box);
}

bool DialogSession::PressOkExpectingClose() {
    const std::string message = PressOkExpectingMessage();
    if (!message.empty()) {
        ADD_FAILURE() << "OK showed \"" << message << "\"";
        return false;
    }
    return WaitForReturn();
}

void DialogSession::PressCancel() {
    HWND control = Control(kCancelButton);
    ASSERT_TRUE(IsWindowEnabled(control));
    SendMessageA(control, BM_CLICK, 0, 0);
}

std::string DialogSession::Text(int id) const { return WindowText(Control(id)); }

bool DialogSession::Checked(int id) const {
    return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string DialogSession::SelectedType() const { return WindowText(Control(kMemoryTypeList)); }

int DialogSession::TypeCount() const {
    return static_cast<int>(SendMessageA(Control(kMemoryTypeList), CB_GETCOUNT, 0, 0));
}

std::string DialogSession::TypeAt(int index) const {
    char text[128] = "";
    const LRESULT length = SendMessageA(Control(kMemoryTypeList), CB_GETLBTEXTLEN, index, 0);
    if (length < 0 || length >= static_cast<LRESULT>(sizeof text)) return "?";
    SendMessageA(Control(kMemoryTypeList), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

int DialogSession::ByteWordnessCount() const {
    return static_cast<int>(SendMessageA(Control(kByteWordnessList), LB_GETCOUNT, 0, 0));
}

std::string DialogSession::ByteWordnessAt(int index) const {
    char text[128] = "";
    const LRESULT length = SendMessageA(Control(kByteWordnessList), LB_GETTEXTLEN, index, 0);
    if (length < 0 || length >= static_cast<LRESULT>(sizeof text)) return "?";
    SendMessageA(Control(kByteWordnessList), LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

int DialogSession::ByteWordnessTop() const {
    return static_cast<int>(SendMessageA(Control(kByteWordnessList), LB_GETTOPINDEX, 0, 0));
}

bool DialogSession::Returned() const {
    return thread_ != nullptr && WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

bool DialogSession::WaitForReturn() {
    return thread_ != nullptr && WaitForSingleObject(thread_, kWindowWaitMs) == WAIT_OBJECT_0;
}

bool DialogSession::BufferUntouched() const {
    for (char c : buffer_)
        if (c != kPattern) return false;
    return true;
}

HWND DialogSession::FindMessageBox() const { return FindThreadDialog(hostThreadId_, "Error"); }

void DialogSession::Close() {
    if (thread_ == nullptr || Returned()) return;
    WaitUntil([this] {
        if (Returned()) return true;
        if (HWND box = FindMessageBox()) PostMessageA(box, WM_COMMAND, IDOK, 0);
        if (dialog_ != nullptr && IsWindow(dialog_))
            PostMessageA(dialog_, WM_COMMAND, kCancelButton, 0);
        return WaitForSingleObject(thread_, 200) == WAIT_OBJECT_0;
    });
    if (!Returned()) ADD_FAILURE() << "the dialog could not be closed";
}

int32_t DialogSession::BrowseOnThisThread(char* buffer) {
    BrowseBlock block{buffer, 0};
    QunRequest request{};
    request.functionCode = 16;
    request.parameters = &block;
    return CallQunMain(&request);
}

}  // namespace qun_test
