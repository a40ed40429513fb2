// A host-like program around the real "Tag Format" dialog: a host thread
// calls QunMain code 16 of MORDALIX.DLL (optionally with a window of its own
// as owner), while the test's thread finds the dialog and drives it with the
// messages a user's actions produce. Every wait is bounded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "driver/browse/browse_address.h"
#include "driver/entry/request.h"

namespace qun_test {

// How long a window may take to appear or go on a loaded machine.
constexpr DWORD kWindowWaitMs = 30000;

class DialogSession {
public:
    DialogSession() = default;
    ~DialogSession();
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    // Starts the host thread; with an owner, it first creates a top-level
    // window and passes it in the parameter block.
    void Start(bool withOwner = false);
    // Waits for the dialog of the host thread; false on timeout.
    bool WaitForDialog();

    HWND dialog() const { return dialog_; }
    HWND owner() const { return owner_; }
    DWORD hostThreadId() const { return hostThreadId_; }
    HWND Control(int id) const { return GetDlgItem(dialog_, id); }

    // ---- What a user does ----------------------------------------------------
    // Clicks an enabled button, radio button or check box (fails the test on a
    // disabled one: a user cannot click it).
    void Click(int id);
    void Type(int id, const char* text);  // replaces an edit field's text
    // Selects an entry of the "Memory Type" list as the user's selection
    // delivers it: the selection, then CBN_SELCHANGE to the dialog.
    void SelectType(const char* name);
    // Scrolls the one-line "Byte/Wordness" list so that entry index is on top.
    void ScrollByteWordnessTo(int index);
    // One line down with the list's scroll bar.
    void ScrollByteWordnessDown();
    // Presses OK and returns the text of the message box it raises, which is
    // then closed; "" when the dialog closed instead.
    std::string PressOkExpectingMessage();
    // Presses OK and waits for the dialog to close; false when it stays open
    // (a message box is then closed and its text reported as a failure).
    bool PressOkExpectingClose();
    void PressCancel();

    // ---- What a user sees ------------------------------------------------------
    std::string Text(int id) const;
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
    bool Checked(int id) const;
    std::string SelectedType() const;  // text of the "Memory Type" list
    int TypeCount() const;
    std::string TypeAt(int index) const;
    int ByteWordnessCount() const;
    std::string ByteWordnessAt(int index) const;
    int ByteWordnessTop() const;

    // ---- The end ------------------------------------------------------------------
    // Waits for QunMain to return; false on timeout.
    bool WaitForReturn();
    bool Returned() const;
    int32_t result() const { return result_; }
    const char* buffer() const { return buffer_; }
    // The buffer still holds the pattern it was filled with.
    bool BufferUntouched() const;
    // The first visible message box of the host thread, or null.
    HWND FindMessageBox() const;
    // Of the last message box PressOkExpectingMessage read: its owner and how
    // many buttons it had.
    HWND lastBoxOwner() const { return lastBoxOwner_; }
    int lastBoxButtons() const { return lastBoxButtons_; }
    // Closes whatever is open (message boxes, the dialog) and waits for the end.
    void Close();

    // Makes QunMain code 16 on the calling thread of a test, with its own
    // request and buffer; for calls made while a dialog is open.
    static int32_t BrowseOnThisThread(char* buffer);

private:
    static DWORD WINAPI HostThread(void* self);

    HANDLE thread_ = nullptr;
    DWORD hostThreadId_ = 0;
    bool withOwner_ = false;
    HWND owner_ = nullptr;
    HWND dialog_ = nullptr;
    HANDLE ownerReady_ = nullptr;
    HWND lastBoxOwner_ = nullptr;
    int lastBoxButtons_ = 0;
    int32_t result_ = -1;
    char buffer_[64];
    BrowseBlock block_{};
    QunRequest request_{};
};

// Reads a message box's text and closes it with its OK button; returns the text.
std::string CloseMessageBox(HWND box);

}  // namespace qun_test
