// The "Tag Format" dialog: resource 101 of MORDALIX.DLL, shown modally on the
// thread that called BrowseAddress.
#include "driver/browse/dialog/browse_dialog.h"

#include <commctrl.h>

#include <cstring>

#include "driver/browse/browse_address.h"
#include "driver/browse/browse_checks.h"
#include "driver/browse/browse_dialog.h"
#include "driver/browse/browse_state.h"
#include "driver/browse/browse_types.h"
#include "driver/browse/dialog/browse_ids.h"

namespace {

// The dialog's state. BrowseAddress's busy mark keeps it to one dialog at a time.
BrowseState browse;

constexpr char kNoBitNumber[] = "--";

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

void Enable(HWND dialog, int id, bool enabled) {
    EnableWindow(Control(dialog, id), enabled ? TRUE : FALSE);
}

void SetText(HWND dialog, int id, const char* text) { SetWindowTextA(Control(dialog, id), text); }

LRESULT Send(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

void SetSpinRange(HWND dialog, int id, int low, int high) {
    Send(dialog, id, UDM_SETRANGE, 0, MAKELPARAM(high, low));
}

bool IsTicked(HWND dialog, int id) { return Send(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// Reads a control's text into a field; a text that does not fit is kept as
// kOverlongField, which no check accepts, rather than cut to something else.
void ReadField(HWND dialog, int id, char (&field)[kFieldTextSize]) {
    HWND control = Control(dialog, id);
    if (GetWindowTextLengthA(control) >= static_cast<int>(kFieldTextSize)) {
        std::strcpy(field, kOverlongField);
        return;
    }
    field[0] = '\0';
    GetWindowTextA(control, field, kFieldTextSize);
}

void FillTypeList(HWND dialog, int32_t mode) {
    Send(dialog, IDC_MEMORY_TYPE, CB_RESETCONTENT, 0, 0);
    const BrowseTypeList list = BrowseTypesOf(mode);
    for (int32_t i = 0; i < list.count; ++i)
        Send(dialog, IDC_MEMORY_TYPE, CB_ADDSTRING, 0,
             reinterpret_cast<LPARAM>(DisplayNameOf(list.rows[i])));
}

// Refills the "Byte/Wordness" list; "None" is on top afterwards.
void FillByteWordness(HWND dialog, bool choices) {
    Send(dialog, IDC_BYTE_WORDNESS, LB_RESETCONTENT, 0, 0);
    Send(dialog, IDC_BYTE_WORDNESS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNoneText));
    if (!choices) return;
    Send(dialog, IDC_BYTE_WORDNESS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("4"));
    Send(dialog, IDC_BYTE_WORDNESS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("2"));
}

// The entry scrolled to the top of the "Byte/Wordness" list; "None" for an
// empty list.
void ReadTopByteWordness(HWND dialog, char (&field)[kFieldTextSize]) {
    std::strcpy(field, kNoneText);
    const LRESULT top = Send(dialog, IDC_BYTE_WORDNESS, LB_GETTOPINDEX, 0, 0);
    const LRESULT length = Send(dialog, IDC_BYTE_WORDNESS, LB_GETTEXTLEN, top, 0);
    if (length <= 0 || length >= static_cast<LRESULT>(kFieldTextSize)) return;
    Send(dialog, IDC_BYTE_WORDNESS, LB_GETTEXT, top, reinterpret_cast<LPARAM>(field));
}

const BrowseMemoryType* SelectedRow() {
    return FindBrowseRow(browse.memoryMode, browse.selectedTypeName);
}

void OnInitDialog(HWND dialog) {
    browse = BrowseState{};
    Send(dialog, IDC_BIT_NUMBER, EM_LIMITTEXT, 2, 0);
    Send(dialog, IDC_EQUIPMENT, EM_LIMITTEXT, 3, 0);
    Send(dialog, IDC_CHANNEL, EM_LIMITTEXT, 2, 0);
    Enable(dialog, IDC_BIT_SPIN, false);
    Enable(dialog, IDC_BIT_NUMBER, false);
    Enable(dialog, IDC_DIGITAL_BIT, false);
    SetSpinRange(dialog, IDC_EQUIPMENT_SPIN, 0, 255);
    Send(dialog, IDC_EXTERNAL, BM_SETCHECK, BST_CHECKED, 0);
    browse.memoryMode = kExternalMemory;
    FillTypeList(dialog, kExternalMemory);
    SetSpinRange(dialog, IDC_CHANNEL_SPIN, 0, 31);
}

void OnInternal(HWND dialog) {
    SetText(dialog, IDC_CHANNEL, "1");
    browse.memoryMode = kInternalMemory;
    Send(dialog, IDC_CHANNEL_SPIN, UDM_SETRANGE32, 1, 8);
    FillTypeList(dialog, kInternalMemory);
    SetText(dialog, IDC_EQUIPMENT, kNoneText);
    Enable(dialog, IDC_EQUIPMENT, false);
    Enable(dialog, IDC_EQUIPMENT_SPIN, false);
    ResetDigitalControls(dialog);
}

void OnExternal(HWND dialog) {
    browse.memoryMode = kExternalMemory;
    SetSpinRange(dialog, IDC_EQUIPMENT_SPIN, 0, 255);
    Enable(dialog, IDC_EQUIPMENT, true);
    Enable(dialog, IDC_EQUIPMENT_SPIN, true);
    SetText(dialog, IDC_EQUIPMENT, "0");
    FillTypeList(dialog, kExternalMemory);
    SetSpinRange(dialog, IDC_CHANNEL_SPIN, 0, 31);
    ResetDigitalControls(dialog);
}

void OnDigitalBit(HWND dialog) {
    if (browse.bitCapable == 0) return;
    if (IsTicked(dialog, IDC_DIGITAL_BIT)) {
        // The "Byte/Wordness" list stays as it is: every type with a bit number
        // also takes a byte/wordness, so it is enabled and offers all three.
        Enable(dialog, IDC_BIT_NUMBER, true);
        Enable(dialog, IDC_BIT_SPIN, true);
        SetText(dialog, IDC_BIT_NUMBER, "0");
        return;
    }
    Enable(dialog, IDC_BIT_NUMBER, false);
    Enable(dialog, IDC_BIT_SPIN, false);
    const BrowseMemoryType* row = SelectedRow();
    if (row != nullptr && row->byteWordnessAllowed != 0) {
        Enable(dialog, IDC_BYTE_WORDNESS, true);
        FillByteWordness(dialog, true);
    }
}

void OnOk(HWND dialog) {
    char listText[kTypeNameSize] = "";
    GetWindowTextA(Control(dialog, IDC_MEMORY_TYPE), listText, sizeof listText);

    browse.channel[0] = browse.equipment[0] = browse.address[0] = '\0';
    browse.bitNumber[0] = browse.byteWordness[0] = '\0';
    ReadField(dialog, IDC_ADDRESS, browse.address);
    ReadField(dialog, IDC_EQUIPMENT, browse.equipment);
    ReadField(dialog, IDC_CHANNEL, browse.channel);
    browse.bitRequested = IsTicked(dialog, IDC_DIGITAL_BIT) ? 1 : 0;
    if (browse.bitRequested != 0)
        ReadField(dialog, IDC_BIT_NUMBER, browse.bitNumber);
    else
        std::strcpy(browse.bitNumber, kNoneText);
    // The list is read even while it is disabled.
    ReadTopByteWordness(dialog, browse.byteWordness);
    browse.byteWordnessChosen = std::strcmp(browse.byteWordness, kNoneText) != 0 ? 1 : 0;

    const char* message = CheckBrowseEntry(browse, listText);
    if (message == nullptr &&
        !ComposeAddress(browse.memoryMode, browse.selectedTypeName, browse.channel,
                        browse.equipment, browse.address, browse.bitNumber, browse.byteWordness,
                        browse.composedAddress))
        message = kMissingValues;  // not reached: the checks let only composable entries pass
    if (message != nullptr) {
        MessageBoxA(dialog, message, "Error", MB_OK);
        return;
    }
    EndDialog(dialog, kBrowseOk);
}

}  // namespace

void ResetDigitalControls(HWND dialog) {
    Send(dialog, IDC_DIGITAL_BIT, BM_SETCHECK, BST_UNCHECKED, 0);
    Enable(dialog, IDC_BIT_NUMBER, false);
    Enable(dialog, IDC_DIGITAL_BIT, false);
    Enable(dialog, IDC_BIT_SPIN, false);
    SetText(dialog, IDC_BIT_NUMBER, kNoBitNumber);
    browse.bitCapable = 0;
    // Its entries stay until the next selection of a type refills it.
    Enable(dialog, IDC_BYTE_WORDNESS, false);
}

void OnMemoryTypeSelected(HWND dialog) {
    // The selected entry's text, read from the list itself: while the
    // selection change is being notified, the box's own text may still show
    // the previous entry.
    browse.selectedTypeName[0] = '\0';
    const LRESULT index = Send(dialog, IDC_MEMORY_TYPE, CB_GETCURSEL, 0, 0);
    const LRESULT length = Send(dialog, IDC_MEMORY_TYPE, CB_GETLBTEXTLEN, index, 0);
    if (index == CB_ERR || length <= 0 || length >= static_cast<LRESULT>(kTypeNameSize)) return;
    Send(dialog, IDC_MEMORY_TYPE, CB_GETLBTEXT, index,
         reinterpret_cast<LPARAM>(browse.selectedTypeName));
    const BrowseMemoryType* row = SelectedRow();
    if (row == nullptr) return;

    if (row->highestBit == 0) {
        Send(dialog, IDC_DIGITAL_BIT, BM_SETCHECK, BST_UNCHECKED, 0);
        Enable(dialog, IDC_BIT_NUMBER, false);
        Enable(dialog, IDC_DIGITAL_BIT, false);
        Enable(dialog, IDC_BIT_SPIN, false);
        SetText(dialog, IDC_BIT_NUMBER, kNoBitNumber);
        browse.bitCapable = 0;
    } else {
        // The bit number field and its spin wait for the box to be ticked.
        browse.bitCapable = 1;
        Enable(dialog, IDC_DIGITAL_BIT, true);
        SetSpinRange(dialog, IDC_BIT_SPIN, 0, row->highestBit);
    }

    const bool choices = row->byteWordnessAllowed != 0;
    Enable(dialog, IDC_BYTE_WORDNESS, choices);
    FillByteWordness(dialog, choices);
}

INT_PTR CALLBACK BrowseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        OnInitDialog(dialog);
        return FALSE;
    }
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
        case IDC_INTERNAL:
            OnInternal(dialog);
            break;
        case IDC_EXTERNAL:
            OnExternal(dialog);
            break;
        case IDC_MEMORY_TYPE:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                ResetDigitalControls(dialog);
                OnMemoryTypeSelected(dialog);
            }
            break;
        case IDC_DIGITAL_BIT:
            OnDigitalBit(dialog);
            break;
        case IDC_OK:
            OnOk(dialog);
            break;
        case IDC_CANCEL:
            EndDialog(dialog, kBrowseCancel);
            return TRUE;
        default:
            // Edit and list notifications, and IDOK and IDCANCEL from Enter and
            // Escape: the dialog closes only through its own buttons.
            break;
    }
    return FALSE;
}

int32_t ShowBrowseDialog(uint32_t ownerWindow, char (&composed)[kComposedAddressSize]) {
    HMODULE module = GetModuleHandleA("MORDALIX.DLL");
    HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(ownerWindow));
    const INT_PTR result =
        DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_TAG_FORMAT), owner, BrowseDialogProc, 0);
    if (result == kBrowseOk) std::memcpy(composed, browse.composedAddress, sizeof composed);
    return static_cast<int32_t>(result);
}
