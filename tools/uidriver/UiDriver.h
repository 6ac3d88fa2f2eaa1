// Drives real windows in GUI tests, from a second thread of the test program or from another
// program: waits for windows by class and caption (with a timeout, never a blind sleep), reads
// message boxes and controls, presses buttons by id, by Escape, and the wizard's sheet buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Class name of dialogs and message boxes.
extern const char DialogClass[];

// Waits up to timeoutMs for a visible top-level window of this class and caption (either may be
// null: any). Returns the window or null when none appeared in time.
HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs = 10000);

// As WaitForWindow, counting only windows of the process processId.
HWND WaitForProcessWindow(DWORD processId, const char* className, const char* caption,
                          DWORD timeoutMs = 10000);

// Waits up to timeoutMs for a visible top-level window of this class (null: any) owned by owner,
// such as a dialog that a page of owner opened. Returns it or null.
HWND WaitForOwnedWindow(HWND owner, const char* className, DWORD timeoutMs = 10000);

// Waits up to timeoutMs until window no longer exists.
bool WaitForWindowGone(HWND window, DWORD timeoutMs = 10000);

// Which standard icon a message box shows: an MB_ICON* value, 0 for none.
const UINT UnknownIcon = ~0u;

// What a message box shows.
struct MessageBoxContent {
    std::string Caption;
    std::string Text;
    HICON Icon = nullptr;             // null when it shows none; comparable only within one process
    UINT IconStyle = 0;               // MB_ICONHAND, MB_ICONQUESTION, ...; 0 none; UnknownIcon
    std::vector<int> ButtonIds;       // in creation order
    std::vector<std::string> Buttons; // their texts, in the same order
};

// Reads a message box of this or another process. The icon of another process's box is
// recognised by its pixels on the screen, waiting up to iconTimeoutMs for the box to paint it.
MessageBoxContent ReadMessageBox(HWND box, DWORD iconTimeoutMs = 5000);

// The icon a message box of this MB_ICON* style shows in this process (null for none).
HICON StandardMessageBoxIcon(UINT iconStyle);

// The standard icon whose rendering matches, pixel for pixel, what iconControl shows on the screen
// now: MB_ICON* value, or UnknownIcon. Works for controls of any process; the control must be
// visible and uncovered.
UINT IconStyleOnScreen(HWND iconControl);

// The text of any window or control.
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int controlId);
bool IsControlEnabled(HWND dialog, int controlId);
// Waits until the control is enabled (or disabled) as wanted; a state that a posted message sets,
// such as a wizard's buttons, arrives a moment after the page shows. False on timeout.
bool WaitForControlEnabled(HWND dialog, int controlId, bool enabled, DWORD timeoutMs = 5000);

// Presses the button with this id in a dialog as a click would (BN_CLICKED to the dialog).
void PressButton(HWND dialog, int controlId);

// Sends the Escape key to the window's focused control (or the window), as the keyboard would.
void PressEscape(HWND window);

// Presses a property sheet's button (PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, PSBTN_CANCEL) as a
// click would. Returns at once.
void PressSheetButton(HWND sheet, int button);

// The property sheet's current page dialog; null when there is none.
HWND CurrentSheetPage(HWND sheet);

// Waits up to timeoutMs until the sheet's current page is another than previous; returns the new
// page, or null when it did not change in time.
HWND WaitForSheetPageChange(HWND sheet, HWND previous, DWORD timeoutMs = 10000);

// Waits for the install wizard of the process ("Welcome"), presses Next twice and then Finish, as a
// user taking every default does. False when the wizard or one of its pages did not come in time.
bool FinishWizardWithDefaults(DWORD processId, DWORD timeoutMs);
