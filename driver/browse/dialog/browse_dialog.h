// The dialog procedure of the "Tag Format" dialog and its helpers.
#pragma once

#include <windows.h>

INT_PTR CALLBACK BrowseDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Unticks "Digital bit", disables it with the bit number field, its spin and
// the "Byte/Wordness" list, and shows "--" as bit number.
void ResetDigitalControls(HWND dialog);

// Records the selected type and sets up the digital controls and the
// "Byte/Wordness" list for it.
void OnMemoryTypeSelected(HWND dialog);
