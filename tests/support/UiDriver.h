// Drives real windows in GUI tests: waits for them by class and caption (with a timeout, never a
// blind sleep), reads message boxes and controls, presses buttons by id.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Class name of dialogs and message boxes.
extern const char DialogClass[];

// Waits up to timeoutMs for a visible top-level window of this class and caption (either may be
// null: any). Returns the window or null when none appeared in time.
HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs = 10000);

// Waits up to timeoutMs until window no longer exists.
bool WaitForWindowGone(HWND window, DWORD timeoutMs = 10000);

// What a message box shows.
struct MessageBoxContent {
    std::string Caption;
    std::string Text;
    HICON Icon = nullptr;       // null when it shows none
    std::vector<int> ButtonIds; // in creation order
};

MessageBoxContent ReadMessageBox(HWND box);

// The icon a message box of this MB_ICON* style shows in this process (null for none).
HICON StandardMessageBoxIcon(UINT iconStyle);

// The text of any window or control.
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int controlId);

// Presses the button with this id in a dialog as a click would (BN_CLICKED to the dialog).
void PressButton(HWND dialog, int controlId);
